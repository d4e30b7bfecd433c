#pragma once

#include "Event.h"
#include "Plan.h"

#include "Link.h"

#include <cstddef>
#include <string>
#include <vector>

// The report's wording: the sentences of a run's start, its status line and its summary, and
// the small forms (seconds, sources, the helper's answers) that the card events put in theirs.
namespace assign {

/// Cards not answered (not listed, or the pool used up) named one by one; the rest counted.
inline constexpr std::size_t kMaxUnlistedNamed = 100;

/// Where the cards stand at the end of a run, MACs as text, for the summary.
struct Tally {
    std::string progress; ///< "12/40", or "12" for a pool without --count
    long assigned = 0;
    long answered = 0;
    std::vector<std::string> failures;   ///< "MAC IP: reason"
    std::vector<std::string> failedMacs; ///< the same cards, MAC only
    std::vector<std::string> missing;    ///< listed and not seen, or still probing
    std::vector<std::string> waiting;    ///< their next request is waited for
    std::vector<std::string> unchecked;  ///< their page check had not ended
    std::vector<std::string> notListed;  ///< not answered: not listed, or the pool used up
    bool notListedUncounted = false;     ///< more of them came than were remembered
    long poolMissing = 0;                ///< cards of --count not given an address
};

/// "list", "record", "pool": the JSON "source" field.
const char* sourceText(Plan::Source s);
/// The same in the operator's language.
const char* sourceWord(Plan::Source s);

/// "12.3" seconds, as the events give them.
std::string secondsText(double seconds);
/// --timeout as the operator gave it: "90", "2.5".
std::string limitText(double seconds);

/// The helper's answer in the operator's language, for the sentences of the report.
std::string answerWords(const helper::Link& link, const helper::Answer& a);
/// The same in English, for the machine-readable "reason" fields.
std::string answerReason(const helper::Link& link, const helper::Answer& a);

/// What the run is waiting for, on the interface ifindex names (0: any).
std::string startedText(const Plan& plan, long listedLeft, long rechecks, unsigned ifindex);

/// The status line kept below the events on a terminal.
std::string statusText(bool confirm, const std::string& progress, long answered, long checking,
                       double seconds);

/// The "summary" event that ends every run, with its exit status.
Event summaryEvent(const Tally& tally, bool confirm, double seconds, int status);

} // namespace assign
