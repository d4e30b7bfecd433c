#include "SimOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace cardsim {

namespace {

std::optional<double> parseSeconds(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// "0.01", "86400": the shortest text that reads back as the value.
std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

template <typename T> std::optional<T> parseWhole(std::string_view text)
{
    T value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

Parsed parseArgs(const std::vector<std::string_view>& args)
{
    Parsed parsed;
    Options& o = parsed.options;
    std::string& error = parsed.error;

    // Each option that takes a value: its reader returns an error text, empty on success.
    using Reader = std::function<std::string(std::string_view)>;
    // Bounded so that every deadline stays far inside the clock's range and a repeat loop
    // cannot turn into a flood.
    auto seconds = [](double& target, const char* what, double low, double high) {
        return [&target, what, low, high](std::string_view v) -> std::string {
            const auto s = parseSeconds(v);
            if (!s || *s < low || *s > high) {
                return std::string(what) + " must be " + number(low) + " to " + number(high) +
                       " seconds";
            }
            target = *s;
            return {};
        };
    };
    const std::map<std::string_view, Reader> valued{
        {"--interface",
         [&o](std::string_view v) -> std::string {
             if (v.empty() || v.size() >= 16) { // IFNAMSIZ
                 return "--interface needs an interface name of 1 to 15 characters";
             }
             o.interface = v;
             return {};
         }},
        {"--mac",
         [&o](std::string_view v) -> std::string {
             o.mac = parseMac(v);
             return o.mac ? "" : "--mac needs six hex pairs such as 00-0A-1B-C2-3D-FF";
         }},
        {"--length",
         [&o](std::string_view v) -> std::string {
             const auto n = parseWhole<std::size_t>(v);
             if (!n || *n < bootp::kMinMessage || *n > 1472) {
                 return "--length must be 300 to 1472 bytes (one unfragmented datagram)";
             }
             o.length = *n;
             return {};
         }},
        {"--interval", seconds(o.interval, "--interval", kMinInterval, kMaxInterval)},
        {"--timeout", seconds(o.timeout, "--timeout", kMinSeconds, kMaxSeconds)},
        {"--count",
         [&o](std::string_view v) -> std::string {
             const auto n = parseWhole<int>(v);
             if (!n || *n < 1) {
                 return "--count must be a whole number of at least 1";
             }
             o.count = *n;
             return {};
         }},
        {"--cards",
         [&o](std::string_view v) -> std::string {
             const auto n = parseWhole<int>(v);
             if (!n || *n < 1 || *n > kMaxCards) {
                 return "--cards must be 1 to " + std::to_string(kMaxCards);
             }
             o.cards = *n;
             return {};
         }},
        {"--mac-base",
         [&o](std::string_view v) -> std::string {
             o.macBase = parseMac(v);
             if (!o.macBase || ((*o.macBase)[0] & 1) != 0) {
                 return "--mac-base needs a unicast MAC (first byte even) such as "
                        "02-00-00-00-10-00";
             }
             return {};
         }},
        {"--spread",
         [&o](std::string_view v) -> std::string {
             const auto s = parseSeconds(v);
             if (!s || *s < 0 || *s > kMaxSpread) {
                 return "--spread must be 0 to " + number(kMaxSpread) + " seconds";
             }
             o.spread = *s;
             return {};
         }},
        {"--http-port",
         [&o](std::string_view v) -> std::string {
             const auto n = parseWhole<std::uint16_t>(v);
             if (!n || *n == 0) {
                 return "--http-port must be 1 to 65535";
             }
             o.httpPort = *n;
             return {};
         }},
        {"--serve-seconds", seconds(o.serveSeconds, "--serve-seconds", kMinSeconds, kMaxSeconds)},
        {"--http-basic",
         [&o](std::string_view v) -> std::string {
             const auto colon = v.find(':');
             if (colon == 0 || colon == v.npos) {
                 return "--http-basic needs USER:PASSWORD with a user name";
             }
             o.httpBasic = v;
             return {};
         }},
        {"--flood",
         [&o](std::string_view v) -> std::string {
             const auto r = parseSeconds(v);
             if (!r || *r < kMinFloodRate || *r > kMaxFloodRate) {
                 return "--flood needs a rate of 1 to 1000000 datagrams/s";
             }
             o.floodRate = *r;
             return {};
         }},
        {"--duration", seconds(o.floodDuration, "--duration", kMinSeconds, kMaxSeconds)},
        {"--format",
         [&o](std::string_view v) -> std::string {
             if (v == "text") {
                 o.format = Format::Text;
             } else if (v == "kv") {
                 o.format = Format::Kv;
             } else if (v == "json") {
                 o.format = Format::Json;
             } else {
                 return "--format must be text, kv or json";
             }
             return {};
         }},
    };
    const std::map<std::string_view, bool*> flags{
        {"--strict", &o.strict},
        {"--any-layout", &o.anyLayout},
        {"--serve-http", &o.serveHttp},
        {"--https", &o.https},
        {"--then-card", &o.thenCard},
        {"--flood-cards", &o.floodCards},
        {"--verbose", &o.verbose},
        {"-v", &o.verbose},
        {"--help", &o.help},
        {"-h", &o.help},
    };

    bool sawFlood = false;
    bool sawCount = false;
    bool sawCards = false;
    bool sawSpread = false;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        if (const auto flag = flags.find(arg); flag != flags.end() && !inlineValue) {
            *flag->second = true;
            continue;
        }
        const auto reader = valued.find(arg);
        if (reader == valued.end()) {
            error = "unknown option " + std::string(args[i]);
            break;
        }
        if (!inlineValue && i + 1 == args.size()) {
            error = std::string(arg) + " needs a value";
            break;
        }
        sawFlood = sawFlood || arg == "--flood";
        sawCount = sawCount || arg == "--count";
        sawCards = sawCards || arg == "--cards";
        sawSpread = sawSpread || arg == "--spread";
        error = reader->second(inlineValue ? *inlineValue : args[++i]);
    }
    if (!error.empty() || o.help) {
        return parsed;
    }
    if (o.interface.empty()) {
        error = "--interface is required: name the interface the card is cabled to";
    } else if (sawCards && sawCount) {
        error = "--cards (at once) and --count (one after another) exclude each other";
    } else if (o.serveHttp && o.count > 1) {
        error = "--serve-http works for one card, or for many with --cards; leave out --count";
    } else if ((o.https || !o.httpBasic.empty()) && (!o.serveHttp || sawCards)) {
        error = "--https and --http-basic go with --serve-http for one card";
    } else if (o.mac && (sawCards || o.macBase)) {
        error = "--mac names one card; with --cards or --mac-base leave it out";
    } else if (o.macBase && !sawCards && !sawCount) {
        error = "--mac-base goes with --cards or --count";
    } else if (sawSpread && !sawCards) {
        error = "--spread goes with --cards";
    } else if (o.floodCards && !sawFlood) {
        error = "--flood-cards only goes with --flood";
    } else if (o.thenCard && !sawFlood) {
        error = "--then-card only goes with --flood";
    } else if (sawFlood && !o.thenCard && (o.serveHttp || sawCount || sawCards)) {
        error = "--serve-http, --count and --cards need --then-card after --flood";
    } else if (o.macBase &&
               !macPlus(*o.macBase, static_cast<std::uint32_t>(std::max(o.cards, o.count) - 1))) {
        error = "--mac-base " + formatMac(*o.macBase) + " leaves no room for " +
                std::to_string(std::max(o.cards, o.count)) + " cards";
    }
    return parsed;
}

const char* usageText()
{
    return R"(Usage: torvane-cardsim --interface IF [options]
       torvane-cardsim --interface IF --cards N [--mac-base MAC] [--spread S] [options]
       torvane-cardsim --interface IF --flood RATE [--duration S] [--then-card] [options]

Simulates a factory-fresh Web/SNMP card on interface IF: broadcasts the card's BOOTP boot
request from UDP port 68 to 255.255.255.255 port 67 without an address of its own, waits for
the reply, checks it and prints the address it was given. Use it to test a PC's set-up without
a card. Needs root (or cap_net_bind_service, and cap_net_admin for --serve-http).
Only run it on a network where a boot request broadcast is welcome.

Card:
  --interface IF      interface to send on and listen on (required)
  --mac MAC           hardware address in chaddr, 00-0A-1B-C2-3D-FF or 00:0a:1b:c2:3d:ff;
                      default: IF's own MAC with --serve-http, else a random locally
                      administered one
  --length N          request length in bytes, 300 to 1472 (default 300)
  --interval S        repeat the request every S seconds until answered, 0.01 to 3600
                      (default 4)
  --timeout S         give up S seconds after the first request, 0.1 to 86400 (default 60)
  --count N           act as N cards one after another, each with a new xid and, unless
                      --mac is given, a new MAC (default 1)
  --strict            also require every byte the server has no reason to change (all but
                      op, yiaddr, siaddr and offsets 246 to 258) to come back unchanged
  --any-layout        also take a reply the card itself would refuse only for its length or
                      for where its options stand, as a general DHCP client does: mask (1)
                      and router (3) anywhere in the option list; such a reply is reported
                      with layout=other. For comparing general servers; a card takes only
                      its own layout
  --mac-base MAC      with --cards or --count: card I (from 0) has MAC + I (default: a
                      random locally administered base)

Many cards at once:
  --cards N           act as N cards (1 to 250) at the same time, each on a macvlan
                      interface of IF (mode private, named csPID-I, removed on exit) that
                      carries the card's MAC, so that frames the PC sends to that MAC reach
                      it; each reports mac, address, mask, gateway and its latency
                      (seconds from the last request sent before the reply to the reply's
                      arrival in the kernel), then a summary event with the p50 and p99
                      latency. With --serve-http each card's page is served on its own
                      interface and address, and IF and the card interfaces answer ARP only
                      for their own addresses (arp_ignore 1; IF's old value comes back)
  --spread S          start the cards' first requests evenly over S seconds, 0 to 3600
                      (default 0: all at once)

  A reply is valid when it has the request's length, op 2, the request's xid and chaddr,
  option 1 (length 4, mask) at offset 246, option 3 (length 4, router) at 252, option 255 at
  258 and a yiaddr other than 0.0.0.0. Datagrams on port 68 with another xid are ignored; the
  first one with the request's xid ends the wait and is judged.

After a valid reply:
  --serve-http        put the assigned address with the assigned mask on IF, set IF up
                      and serve a small page titled "Web/SNMP Card <MAC>" on the
                      address; /favicon.ico and other paths get 404. The address is
                      removed again on exit.
  --http-port P       port of that page (default 80)
  --http-basic U:P    ask for HTTP Basic credentials (user U, password P, realm
                      "Web/SNMP Card") before any page; other credentials get 401
  --https             serve the pages over HTTPS on port 443 with a self-signed
                      certificate made at start (a new one each start; the serving event
                      gives its SHA-256 fingerprint), and answer the HTTP port with a
                      302 redirect to https://ADDRESS/
                      Besides the start page: /config.txt (a download), /upload (a
                      firmware upload form, POST multipart/form-data), /about (the target
                      of a target=_blank link) and /popup (opened by window.open with a
                      size)
  --serve-seconds S   stop serving after S seconds, 0.1 to 86400 (default: until SIGINT or
                      SIGTERM)

Load:
  --flood RATE        instead of being a card, broadcast foreign DHCPDISCOVERs (option 53
                      first, a new random MAC and xid each) at RATE datagrams/s (1 to
                      1000000), paced by the clock; the achieved rate is reported
  --flood-cards       flood with card requests (the card's own layout, 300 bytes) from
                      random foreign MACs instead of DHCPDISCOVERs: datagrams that pass a
                      server's card filter, from cards it does not know
  --duration S        how long to flood, 0.1 to 86400 seconds (default 10)
  --then-card         after the flood, act as a card (or cards) as above
                      The flood event counts foreign_replies: BOOTREPLYs on port 68 whose
                      xid and chaddr are those of a flood datagram

Output:
  --format F          text (default): one line per event for people
                      kv: one line per event, "event=NAME key=value ..." (no blanks in values)
                      json: one JSON object per line with the same keys
                      events: assigned, invalid, timeout, serving, served, flood,
                      summary (--cards)
                      (invalid and timeout go to stderr only in text)
  -v, --verbose       progress on stderr (each request sent, each datagram ignored, each
                      page; a client's bytes outside printable ASCII as \xNN)
  -h, --help          this text

Exit status:
  0  every card got a valid reply (and the pages were served until the end), or the flood
     ran
  2  usage error
  3  no reply with the request's xid before the timeout (with --cards: for some card, and
     no card got an invalid reply)
  4  a reply with the request's xid failed the check (stderr says which field)
  5  system error: no such interface, interface down, socket, address or page set-up
     failed
  128+N  ended by signal N before a reply arrived
)";
}

} // namespace cardsim
