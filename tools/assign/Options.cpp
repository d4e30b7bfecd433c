#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace assign {

namespace {

bool seconds(const std::string& text, double& out)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(value) || value < 0 || value > 86400 * 7) {
        return false;
    }
    out = value;
    return true;
}

} // namespace

const char* usageText()
{
    return R"(Usage:
  torvane-assign --mac MAC --ip A --mask M --gateway G [options]
  torvane-assign --list FILE [--pool A-B --mask M --gateway G] [--record FILE] [options]
  torvane-assign --pool A-B --mask M --gateway G --record FILE [--count N] [options]
  torvane-assign --export dnsmasq|kea --record FILE

Gives factory-fresh Web/SNMP cards their first IPv4 address: waits for each card's BOOTP
request, answers it with the card's address, mask and gateway, adds a permanent neighbour
entry for it, and checks that the card's web server answers at the new address.

Cards:
  --mac MAC             the one card to assign: 00-0A-1B-C2-3D-FF, 00:0a:1b:c2:3d:ff,
                        000a.1bc2.3dff or 000a1bc23dff
  --ip A                its address
  --list FILE           relation list, CSV whose header names the columns mac, ip, mask,
                        gateway and optionally name; other columns are kept in the record
  --pool A-B            addresses for cards not on the list, handed out in order after
                        checking that none answers on the network
  --mask M              subnet mask for --ip or --pool
  --gateway G           default gateway for --ip or --pool (0.0.0.0 for none)
  --record FILE         CSV of every assignment, written as it happens; a later run with the
                        same file continues the pool, gives a recorded card its address
                        again and checks again the cards left pending (required with --pool)
  --count N             with --pool: the roll-out's total of cards from the pool, counting
                        those already in the record (default: run until the pool is used
                        up, --timeout or Ctrl-C)

Options:
  --interface IF        answer only requests that arrive on IF (it must exist and be up)
  --confirm http|none   check each card by an HTTP GET of / on port 80 (default http)
  --confirm-timeout S   seconds a card has to answer after its reply (default 60)
  --probe-wait S        seconds to wait for a pool address to answer before handing it out
                        (default 1)
  --timeout S           end after S seconds (above 0) even if cards are missing (default: no
                        limit)
  --dry-run             check everything and print what would be sent; start no helper and
                        send nothing
  --export dnsmasq|kea  print the record as dnsmasq dhcp-host lines or a Kea reservations
                        array, for a general DHCP server to serve the same addresses
  --format text|json    one line per event for people, or one JSON object per line
  --helper PATH         Linux: the torvane-helper to start (default: beside this program,
                        then ../libexec/torvane/); Windows holds port 67 in the program
  -h, --help            this text
  --version             the version

Exit status:
  0    every card waited for was assigned and answered (or --confirm none)
  1    a card was refused or did not answer, or the helper (Linux) failed
  2    bad command line, list or record; nothing was sent
  3    --timeout passed with cards still missing
  4    UDP port 67 could not be bound (Linux: or torvane-helper could not be started)
  130  stopped by Ctrl-C (SIGINT); 143 by SIGTERM or Ctrl-Break; the report so far is
       printed
)";
}

Parsed parseArgs(const std::vector<std::string_view>& args)
{
    Parsed parsed;
    Options& o = parsed.options;
    auto fail = [&parsed](std::string text) {
        if (parsed.error.empty()) {
            parsed.error = std::move(text);
        }
    };
    for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        std::string name(args[i]);
        std::string value;
        bool inlineValue = false;
        if (name.rfind("--", 0) == 0) {
            if (const std::size_t eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                inlineValue = true;
            }
        }
        if (name == "-h" || name == "--help") {
            o.help = true;
            continue;
        }
        if (name == "--version") {
            o.version = true;
            continue;
        }
        if (name == "--dry-run") {
            o.dryRun = true;
            continue;
        }
        static const char* const valued[] = {"--mac",       "--ip",
                                             "--list",      "--pool",
                                             "--record",    "--count",
                                             "--mask",      "--gateway",
                                             "--interface", "--confirm",
                                             "--timeout",   "--probe-wait",
                                             "--format",    "--confirm-timeout",
                                             "--helper",    "--export"};
        bool known = false;
        for (const char* v : valued) {
            known = known || name == v;
        }
        if (!known) {
            fail("unknown option '" + std::string(args[i]) + "'");
            break;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                fail(name + " needs a value");
                break;
            }
            value = std::string(args[++i]);
        }
        if (name == "--mac") {
            o.mac = value;
        } else if (name == "--ip") {
            o.ip = value;
        } else if (name == "--list") {
            o.list = value;
        } else if (name == "--pool") {
            o.pool = value;
        } else if (name == "--record") {
            o.record = value;
        } else if (name == "--mask") {
            o.mask = value;
        } else if (name == "--gateway") {
            o.gateway = value;
        } else if (name == "--interface") {
            o.interface = value;
        } else if (name == "--helper") {
            o.helper = value;
        } else if (name == "--export") {
            if (value != "dnsmasq" && value != "kea") {
                fail("--export: '" + value + "' is neither dnsmasq nor kea");
            }
            o.exportFormat = value;
        } else if (name == "--count") {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000) {
                fail("--count: '" + value + "' is not a number of cards from 1 to 1000000");
            }
            o.count = n;
        } else if (name == "--confirm") {
            if (value == "http") {
                o.confirm = true;
            } else if (value == "none") {
                o.confirm = false;
            } else {
                fail("--confirm: '" + value + "' is neither http nor none");
            }
        } else if (name == "--format") {
            if (value == "text") {
                o.format = Format::Text;
            } else if (value == "json") {
                o.format = Format::Json;
            } else {
                fail("--format: '" + value + "' is neither text nor json");
            }
        } else if (name == "--timeout") {
            double limit = 0;
            if (!seconds(value, limit)) {
                fail(name + ": '" + value + "' is not a number of seconds");
            } else if (limit <= 0) {
                fail("--timeout: give a number of seconds above 0 (leave the option out for no "
                     "limit)");
            }
            o.timeout = limit;
        } else {
            double* target = name == "--probe-wait" ? &o.probeWait : &o.confirmTimeout;
            if (!seconds(value, *target)) {
                fail(name + ": '" + value + "' is not a number of seconds");
            }
        }
    }
    if (!parsed.error.empty() || o.help || o.version) {
        return parsed;
    }
    const bool one = !o.mac.empty() || !o.ip.empty();
    if (!o.exportFormat.empty()) {
        if (o.record.empty()) {
            fail("--export needs --record, the file to turn into configuration");
        } else if (one || !o.list.empty() || !o.pool.empty() || o.dryRun) {
            fail("--export reads only the record; it goes with no other cards or --dry-run");
        }
        return parsed;
    }
    if (one && (o.mac.empty() || o.ip.empty())) {
        fail("one card needs both --mac and --ip");
    } else if (one && (!o.list.empty() || !o.pool.empty())) {
        fail("--mac/--ip assign one card; they do not go with --list or --pool");
    } else if (!one && o.list.empty() && o.pool.empty()) {
        fail("say which cards: --mac and --ip, --list, or --pool");
    } else if ((one || !o.pool.empty()) && (o.mask.empty() || o.gateway.empty())) {
        fail(std::string(one ? "--ip" : "--pool") + " needs --mask and --gateway");
    } else if (!one && o.pool.empty() && (!o.mask.empty() || !o.gateway.empty())) {
        fail("--mask and --gateway belong to --ip or --pool; the list has its own columns");
    } else if (!o.pool.empty() && o.record.empty()) {
        fail("--pool needs --record, so that no address is ever given twice");
    } else if (o.count && o.pool.empty()) {
        fail("--count goes with --pool");
    }
    return parsed;
}

} // namespace assign
