// torvane-assign: commissions Web/SNMP cards from the command line (through torvane-helper on
// Linux; on Windows the program holds the card port itself).
#include "Export.h"
#include "Host.h"
#include "Network.h"
#include "Options.h"
#include "Plan.h"
#include "RecordFile.h"
#include "ReportWording.h"
#include "Reporter.h"
#include "Runner.h"
#include "Say.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace assign;

constexpr std::size_t kMaxFile = 16 * 1024 * 1024;

/// Every problem found before anything is sent: the first ones, then how many more.
int refuse(Reporter& out, const std::vector<text::Twin>& errors)
{
    for (std::size_t i = 0; i < errors.size() && i < kMaxErrorsShown; ++i) {
        out.error(errors[i]);
    }
    if (errors.size() > kMaxErrorsShown) {
        out.error(
            say(text::Id::AssignMoreProblems, {std::to_string(errors.size() - kMaxErrorsShown)}));
    }
    const text::Twin nothing = say(text::Id::AssignNothingSent);
    std::fprintf(stderr, "torvane-assign: %s\n", nothing.local().c_str());
    return kExitUsage;
}

/// --dry-run: what the run would answer, from the checked plan; nothing is started or sent.
int dryRun(Reporter& out, const Options& o, Plan& plan)
{
    for (const ListedCard& card : plan.listed()) {
        const std::string source = std::string(sourceWord(Plan::Source::List)) +
                                   (card.name.empty() ? "" : ", " + card.name);
        Event e("plan", text::format(text::Id::AssignDryRunCard,
                                     {macText(card.mac), ipText(card.ip), ipText(card.mask),
                                      ipText(card.gateway), source}));
        e.add("mac", macText(card.mac))
            .add("ip", ipText(card.ip))
            .add("mask", ipText(card.mask))
            .add("gateway", ipText(card.gateway))
            .add("source", "list");
        if (!card.name.empty()) {
            e.add("name", card.name);
        }
        out.emit(e);
    }
    for (const RecordEntry& r : plan.recorded()) {
        if (r.confirmed == Confirmed::Pending && o.confirm) {
            out.emit(Event("plan_recheck", text::format(text::Id::AssignDryRunRecheck,
                                                        {macText(r.mac), ipText(r.ip)}))
                         .add("mac", macText(r.mac))
                         .add("ip", ipText(r.ip)));
        }
    }
    if (plan.hasPool()) {
        Pool pool = *plan.pool();
        const std::string range = poolText(pool.range());
        const std::optional<Ip> next = pool.take();
        long left = next ? 1 : 0;
        while (next && pool.take()) {
            ++left;
        }
        Event e("plan_pool", next ? text::format(text::Id::AssignDryRunPool,
                                                 {range, ipText(*next), std::to_string(left)})
                                  : text::format(text::Id::AssignDryRunPoolEmpty, {range}));
        e.add("pool", range).number("left", left);
        if (next) {
            e.add("next", ipText(*next));
        }
        if (plan.poolCount()) {
            e.number("count", *plan.poolCount())
                .number("recorded_from_pool", plan.recordedFromPool());
        }
        out.emit(e);
    }
    out.emit(Event("dry_run", text::tr(text::Id::AssignDryRunEnd)));
    return kExitOk;
}

int exportRecord(Reporter& out, const Options& o)
{
    std::string text;
    text::Twin error;
    if (!recordPathUsable(o.record, error) || !readFile(o.record, kMaxFile, text, error, true)) {
        return refuse(out, {error});
    }
    const RecordTable record = readRecord(text);
    std::vector<text::Twin> errors;
    for (const InputError& e : record.errors) {
        errors.push_back(placed(o.record + ":" + std::to_string(e.at.line) + ":" +
                                    std::to_string(e.at.column) + ": ",
                                e.text));
    }
    if (!errors.empty()) {
        return refuse(out, errors);
    }
    const std::string config =
        o.exportFormat == "kea" ? keaReservations(record.entries) : dnsmasqConfig(record.entries);
    std::fputs(config.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    text::setLanguage(desktopLanguage());
    const std::vector<std::string> words = programArguments(argc, argv);
    const std::vector<std::string_view> args(words.begin(), words.end());
    const Parsed parsed = parseArgs(args);
    if (parsed.options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitOk;
    }
    if (parsed.options.version) {
        std::printf("torvane-assign %s\n", TORVANE_VERSION);
        return kExitOk;
    }
    Reporter out(parsed.options.format, outputIsTerminal());
    if (!parsed.error.empty()) {
        out.error(text::twin(text::Id::AssignUsageHint, {parsed.error}));
        return kExitUsage;
    }
    const Options& o = parsed.options;
    if (!o.exportFormat.empty()) {
        return exportRecord(out, o);
    }

    // Everything is read and checked before the helper starts: bad input sends nothing.
    std::vector<text::Twin> errors;
    Inputs inputs;
    text::Twin error;
    if (!o.list.empty() && !readFile(o.list, kMaxFile, inputs.listText, error)) {
        errors.push_back(error);
    }
    if (!o.record.empty()) {
        if (!recordPathUsable(o.record, error)) {
            errors.push_back(error);
        } else if (pathExists(o.record) &&
                   !readFile(o.record, kMaxFile, inputs.recordText, error, true)) {
            errors.push_back(error);
        }
    }
    if (const netlink::Result<std::vector<LocalAddress>> local = readLocalAddresses(); local) {
        for (const LocalAddress& a : *local) {
            inputs.local.insert(a.ip);
        }
    } else {
        errors.push_back(say(text::Id::AssignAddressesUnreadable, {errorText(local.error())}));
    }
    Plan plan;
    if (errors.empty()) {
        plan = Plan::make(o, inputs, errors);
    }
    unsigned ifindex = 0;
    if (!o.interface.empty()) {
        const InterfaceState s = interfaceState(o.interface);
        if (s.error != 0) {
            errors.push_back(say(text::Id::AssignInterfacesUnreadable, {errorText(s.error)}));
        } else if (s.index == 0) {
            errors.push_back(say(text::Id::AssignNoInterface, {o.interface}));
        } else if (!s.up) {
            errors.push_back(say(text::Id::AssignInterfaceDown, {o.interface}));
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
        return refuse(out, errors);
    }
    if (o.dryRun) {
        return dryRun(out, o, plan);
    }

    catchStopSignals();
    Runner runner(o, plan, record, out, ifindex);
    return runner.run();
}
