// torvane-assign: commissions Web/SNMP cards from the command line through torvane-helper.
#include "Network.h"
#include "Options.h"
#include "Plan.h"
#include "RecordFile.h"
#include "Reporter.h"
#include "Runner.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxFile = 16 * 1024 * 1024;

} // namespace

int main(int argc, char** argv)
{
    using namespace assign;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const Parsed parsed = parseArgs(args);
    if (parsed.options.help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }
    if (parsed.options.version) {
        std::printf("torvane-assign %s\n", TORVANE_VERSION);
        return kExitOk;
    }
    Reporter out(parsed.options.format, ::isatty(STDOUT_FILENO) == 1);
    if (!parsed.error.empty()) {
        out.error(parsed.error + " (torvane-assign --help shows the usage)");
        return kExitUsage;
    }
    const Options& o = parsed.options;

    // Everything is read and checked before the helper starts: bad input sends nothing.
    std::vector<std::string> errors;
    Inputs inputs;
    std::string error;
    if (!o.list.empty() && !readFile(o.list, kMaxFile, inputs.listText, error)) {
        errors.push_back(error);
    }
    if (!o.record.empty()) {
        if (!recordPathUsable(o.record, error)) {
            errors.push_back(error);
        } else if (::access(o.record.c_str(), F_OK) == 0 &&
                   !readFile(o.record, kMaxFile, inputs.recordText, error, true)) {
            errors.push_back(error);
        }
    }
    for (const LocalAddress& a : localAddresses()) {
        inputs.local.insert(a.ip);
    }
    Plan plan;
    if (errors.empty()) {
        plan = Plan::make(o, inputs, errors);
    }
    unsigned ifindex = 0;
    if (!o.interface.empty()) {
        const InterfaceState s = interfaceState(o.interface);
        if (s.index == 0) {
            errors.push_back("--interface: there is no interface " + o.interface);
        } else if (!s.up) {
            errors.push_back("--interface: " + o.interface + " is down (ip link set " +
                             o.interface + " up)");
        }
        ifindex = s.index;
    }
    std::optional<RecordFile> record;
    if (!o.record.empty() && errors.empty()) {
        record.emplace(o.record, plan.recorded());
        if (!record->writable(error)) {
            errors.push_back(error);
        }
    }
    if (!errors.empty()) {
        for (const std::string& e : errors) {
            out.error(e);
        }
        std::fprintf(stderr, "torvane-assign: nothing was sent\n");
        return kExitUsage;
    }

    catchStopSignals();
    Runner runner(o, plan, record, out, ifindex);
    return runner.run();
}
