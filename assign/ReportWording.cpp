// The report's wording: the sentences of a run's start, its status line and its summary.
#include "ReportWording.h"

#include "Network.h"

#include <algorithm>
#include <cstdio>

namespace assign {

namespace {

std::string cardsText(long n)
{
    return n == 1 ? text::tr(text::Id::AssignCardOne)
                  : text::format(text::Id::AssignCards, {std::to_string(n)});
}

std::string listText(const std::vector<std::string>& items)
{
    std::string out;
    const std::size_t shown = std::min(items.size(), kMaxListed);
    for (std::size_t i = 0; i < shown; ++i) {
        out += (i ? ", " : "") + items[i];
    }
    if (items.size() > shown) {
        out = text::format(text::Id::AssignAndMore, {out, std::to_string(items.size() - shown)});
    }
    return out;
}

} // namespace

const char* sourceText(Plan::Source s)
{
    switch (s) {
    case Plan::Source::List:
        return "list";
    case Plan::Source::Record:
        return "record";
    case Plan::Source::Pool:
        return "pool";
    }
    return "list";
}

const char* sourceWord(Plan::Source s)
{
    switch (s) {
    case Plan::Source::List:
        return text::tr(text::Id::AssignSourceList);
    case Plan::Source::Record:
        return text::tr(text::Id::AssignSourceRecord);
    case Plan::Source::Pool:
        return text::tr(text::Id::AssignSourcePool);
    }
    return "";
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string limitText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

std::string answerWords(const helper::Link& link, const helper::Answer& a)
{
    return link.words(a).local();
}

std::string answerReason(const helper::Link& link, const helper::Answer& a)
{
    return link.words(a).english;
}

std::string startedText(const Plan& plan, long listedLeft, long rechecks, unsigned ifindex)
{
    using text::Id;
    std::vector<std::string> parts;
    if (listedLeft > 0) {
        parts.push_back(listedLeft == 1
                            ? std::string(text::tr(Id::AssignListedOne))
                            : text::format(Id::AssignListed, {std::to_string(listedLeft)}));
    }
    if (plan.hasPool()) {
        const std::string range = poolText(plan.pool()->range());
        if (!plan.poolCount()) {
            parts.push_back(text::format(Id::AssignPoolCards, {range}));
        } else if (*plan.poolCount() > plan.recordedFromPool()) {
            parts.push_back(text::format(
                Id::AssignPoolMore,
                {range, cardsText(*plan.poolCount() - plan.recordedFromPool()),
                 std::to_string(plan.recordedFromPool()), std::to_string(*plan.poolCount())}));
        }
    }
    if (rechecks > 0) {
        parts.push_back(text::format(Id::AssignRechecks, {cardsText(rechecks)}));
    }
    if (parts.empty() && plan.listed().empty() && !plan.hasPool()) {
        parts.push_back(text::tr(Id::AssignAnyCards));
    }
    if (parts.empty()) {
        return text::tr(Id::AssignNothingToDo);
    }
    std::string what = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        what = text::format(Id::AssignAnd, {what, parts[i]});
    }
    return ifindex ? text::format(Id::AssignStartedOn, {what, interfaceName(ifindex)})
                   : text::format(Id::AssignStarted, {what});
}

std::string statusText(bool confirm, const std::string& progress, long answered, long checking,
                       double seconds)
{
    char elapsed[16];
    std::snprintf(elapsed, sizeof elapsed, "%d:%02d", static_cast<int>(seconds) / 60,
                  static_cast<int>(seconds) % 60);
    return confirm ? text::format(text::Id::AssignStatus, {progress, std::to_string(answered),
                                                           std::to_string(checking), elapsed})
                   : text::format(text::Id::AssignStatusUnchecked, {progress, elapsed});
}

Event summaryEvent(const Tally& t, bool confirm, double seconds, int status)
{
    using text::Id;
    const std::string failed = std::to_string(t.failures.size());
    std::string sentence =
        confirm
            ? text::format(Id::AssignReport,
                           {t.progress, std::to_string(t.answered), failed, secondsText(seconds)})
            : text::format(Id::AssignReportUnchecked, {t.progress, failed, secondsText(seconds)});
    // Each failure was reported with its reason when it happened; here only who.
    if (!t.failedMacs.empty()) {
        sentence += "\n" + text::format(Id::AssignReportFailed, {listText(t.failedMacs)});
    }
    if (!t.missing.empty()) {
        sentence += "\n" + text::format(Id::AssignReportMissing, {listText(t.missing)});
    }
    if (!t.waiting.empty()) {
        sentence += "\n" + text::format(Id::AssignReportWaiting, {listText(t.waiting)});
    }
    if (t.poolMissing > 0) {
        sentence += "\n" + text::format(Id::AssignReportPoolMissing, {cardsText(t.poolMissing)});
    }
    if (!t.unchecked.empty()) {
        sentence += "\n" + text::format(Id::AssignReportChecking, {listText(t.unchecked)});
    }
    if (!t.notListed.empty()) {
        std::string who = listText(t.notListed);
        if (t.notListedUncounted) {
            who = text::format(Id::AssignAndMany, {who});
        }
        sentence += "\n" + text::format(Id::AssignReportNotListed, {who});
    }
    Event e("summary", sentence);
    e.number("assigned", t.assigned);
    if (confirm) {
        e.number("answered", t.answered);
    }
    e.number("failed", static_cast<long>(t.failures.size()))
        .raw("failures", jsonArray(t.failures))
        .raw("missing", jsonArray(t.missing))
        .raw("waiting", jsonArray(t.waiting))
        .number("pool_missing", t.poolMissing)
        .raw("unchecked", jsonArray(t.unchecked))
        .raw("not_listed",
             jsonArray({t.notListed.begin(),
                        t.notListed.begin() +
                            static_cast<long>(std::min(t.notListed.size(), kMaxUnlistedNamed))}))
        .number("not_listed_count", static_cast<long>(t.notListed.size()))
        .flag("not_listed_uncounted", t.notListedUncounted)
        .number("seconds", seconds)
        .number("exit", static_cast<long>(status));
    return e;
}

} // namespace assign
