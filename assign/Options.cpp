#include "Options.h"

#include <algorithm>
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

using text::Id;
using Group = OptionHelp::Group;

constexpr OptionHelp kOptions[] = {
    {Group::Cards, "--mac", "", "MAC", Id::AssignHelpMac},
    {Group::Cards, "--ip", "", "A", Id::AssignHelpIp},
    {Group::Cards, "--list", "", "FILE", Id::AssignHelpList},
    {Group::Cards, "--pool", "", "A-B", Id::AssignHelpPool},
    {Group::Cards, "--mask", "", "M", Id::AssignHelpMask},
    {Group::Cards, "--gateway", "", "G", Id::AssignHelpGateway},
    {Group::Cards, "--record", "", "FILE", Id::AssignHelpRecord},
    {Group::Cards, "--count", "", "N", Id::AssignHelpCount},
    {Group::Options, "--interface", "", "IF", Id::AssignHelpInterface},
    {Group::Options, "--confirm", "", "http|none", Id::AssignHelpConfirm},
    {Group::Options, "--confirm-timeout", "", "S", Id::AssignHelpConfirmTimeout},
    {Group::Options, "--probe-wait", "", "S", Id::AssignHelpProbeWait},
    {Group::Options, "--timeout", "", "S", Id::AssignHelpTimeout},
    {Group::Options, "--dry-run", "", "", Id::AssignHelpDryRun},
    {Group::Options, "--temporary-address", "", "", Id::AssignHelpTemporary},
    {Group::Options, "--export", "", "dnsmasq|kea", Id::AssignHelpExport},
    {Group::Options, "--format", "", "text|json", Id::AssignHelpFormat},
    {Group::Options, "--helper", "", "PATH", Id::AssignHelpHelper},
    {Group::Options, "--help", "-h", "", Id::AssignHelpHelp},
    {Group::Options, "--version", "", "", Id::AssignHelpVersion},
};

struct ExitHelp {
    int status;
    Id description;
};

constexpr ExitHelp kExits[] = {
    {kExitOk, Id::AssignHelpExitOk},         {kExitFailed, Id::AssignHelpExitFailed},
    {kExitUsage, Id::AssignHelpExitUsage},   {kExitTimeout, Id::AssignHelpExitTimeout},
    {kExitHelper, Id::AssignHelpExitHelper}, {kExitSignal + 2, Id::AssignHelpExitSignal}, // SIGINT
};

/// "  left" padded to width, then the description; its further lines start at width too.
std::string row(std::string left, std::size_t width, std::string_view description)
{
    left.resize(std::max(width, left.size() + 2), ' ');
    std::string out = left;
    for (const char c : description) {
        out += c;
        if (c == '\n') {
            out.append(width, ' ');
        }
    }
    return out + "\n";
}

const OptionHelp* findOption(std::string_view name)
{
    for (const OptionHelp& o : kOptions) {
        if (name == o.name || (!o.alias.empty() && name == o.alias)) {
            return &o;
        }
    }
    return nullptr;
}

} // namespace

std::span<const OptionHelp> optionTable()
{
    return kOptions;
}

std::string usageText(text::Lang lang)
{
    constexpr std::size_t kOptionColumn = 24;
    constexpr std::size_t kExitColumn = 7;
    std::string out = std::string(text::tr(Id::AssignHelpUsage, lang)) + "\n\n" +
                      text::tr(Id::AssignHelpAbout, lang) + "\n";
    for (const auto& [group, heading] :
         {std::pair{Group::Cards, Id::AssignHelpCards}, {Group::Options, Id::AssignHelpOptions}}) {
        out += std::string("\n") + text::tr(heading, lang) + "\n";
        for (const OptionHelp& o : kOptions) {
            if (o.group != group) {
                continue;
            }
            std::string left = "  ";
            if (!o.alias.empty()) {
                left += std::string(o.alias) + ", ";
            }
            left += o.name;
            if (!o.value.empty()) {
                left += " " + std::string(o.value);
            }
            out += row(left, kOptionColumn, text::tr(o.description, lang));
        }
    }
    out += std::string("\n") + text::tr(Id::AssignHelpExit, lang) + "\n";
    for (const ExitHelp& e : kExits) {
        out += row("  " + std::to_string(e.status), kExitColumn, text::tr(e.description, lang));
    }
    return out;
}

std::string usageText()
{
    return usageText(text::language());
}

Parsed parseArgs(const std::vector<std::string_view>& args)
{
    Parsed parsed;
    Options& o = parsed.options;
    auto fail = [&parsed](Id id, std::initializer_list<text::Twin> args = {}) {
        if (parsed.error.empty()) {
            parsed.error = text::twin(id, args);
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
        const OptionHelp* option = findOption(name);
        if (option == nullptr) {
            fail(Id::AssignErrUnknownOption, {std::string(args[i])});
            break;
        }
        name = option->name;
        if (name == "--help") {
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
        if (name == "--temporary-address") {
            o.temporaryAddress = true;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                fail(Id::AssignErrNeedsValue, {name});
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
                fail(Id::AssignErrNeither, {name, value, "dnsmasq", "kea"});
            }
            o.exportFormat = value;
        } else if (name == "--count") {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000) {
                fail(Id::AssignErrCount, {value});
            }
            o.count = n;
        } else if (name == "--confirm") {
            if (value == "http") {
                o.confirm = true;
            } else if (value == "none") {
                o.confirm = false;
            } else {
                fail(Id::AssignErrNeither, {name, value, "http", "none"});
            }
        } else if (name == "--format") {
            if (value == "text") {
                o.format = Format::Text;
            } else if (value == "json") {
                o.format = Format::Json;
            } else {
                fail(Id::AssignErrNeither, {name, value, "text", "json"});
            }
        } else if (name == "--timeout") {
            double limit = 0;
            if (!seconds(value, limit)) {
                fail(Id::AssignErrSeconds, {name, value});
            } else if (limit <= 0) {
                fail(Id::AssignErrTimeoutZero);
            }
            o.timeout = limit;
        } else {
            double* target = name == "--probe-wait" ? &o.probeWait : &o.confirmTimeout;
            if (!seconds(value, *target)) {
                fail(Id::AssignErrSeconds, {name, value});
            }
        }
    }
    if (!parsed.error.empty() || o.help || o.version) {
        return parsed;
    }
    const bool one = !o.mac.empty() || !o.ip.empty();
    if (!o.exportFormat.empty()) {
        if (o.record.empty()) {
            fail(Id::AssignErrExportNeedsRecord);
        } else if (one || !o.list.empty() || !o.pool.empty() || o.dryRun) {
            fail(Id::AssignErrExportAlone);
        }
        return parsed;
    }
    if (one && (o.mac.empty() || o.ip.empty())) {
        fail(Id::AssignErrOneCard);
    } else if (one && (!o.list.empty() || !o.pool.empty())) {
        fail(Id::AssignErrOneCardAlone);
    } else if (!one && o.list.empty() && o.pool.empty()) {
        fail(Id::AssignErrWhichCards);
    } else if ((one || !o.pool.empty()) && (o.mask.empty() || o.gateway.empty())) {
        fail(Id::AssignErrNeedsMaskGateway, {one ? "--ip" : "--pool"});
    } else if (!one && o.pool.empty() && (!o.mask.empty() || !o.gateway.empty())) {
        fail(Id::AssignErrMaskGatewayAlone);
    } else if (!o.pool.empty() && o.record.empty()) {
        fail(Id::AssignErrPoolNeedsRecord);
    } else if (o.count && o.pool.empty()) {
        fail(Id::AssignErrCountAlone);
    }
    return parsed;
}

} // namespace assign
