#pragma once

#include "HttpCheck.h"
#include "Network.h"
#include "Plan.h"
#include "RecordFile.h"
#include "Reporter.h"
#include "Say.h"

#include "Link.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace assign {

/// One run: starts the helper, answers cards as their requests arrive, checks each card's
/// page, keeps the record, and ends when every card waited for is done, at --timeout or on
/// SIGINT/SIGTERM (Ctrl-C). Reply and neighbour entry of one card are sent back to back, because
/// the helper takes no second reply while an entry is outstanding; probes and page checks of many
/// cards run side by side.
class Runner {
public:
    using Clock = std::chrono::steady_clock;

    Runner(const Options& options, Plan& plan, std::optional<RecordFile>& record,
           Reporter& reporter, unsigned ifindex);
    /// The exit status.
    int run();

private:
    struct Card {
        enum class Phase {
            Probing,
            Waiting, ///< its reply could not go out for a passing reason: its next request is used
            Checking,
            Done,
            Failed,
            NotListed,
            Exhausted
        };
        Phase phase = Phase::NotListed;
        Mac mac{};
        Plan::Source source = Plan::Source::List;
        Settings settings;
        std::string name;
        std::vector<ExtraField> extra;
        helper::Request request;
        Clock::time_point probeEnd;
        Clock::time_point nextLook; ///< when the neighbour table is read for it next
        Clock::time_point assignedAt;
        std::unique_ptr<HttpCheck> check;
        bool answered = false;     ///< the page check succeeded
        bool fromPool = false;     ///< not on the list: counts towards --count
        bool recheck = false;      ///< a check the record left pending, done again
        std::string lastProblem;   ///< why the last reply could not go out (Waiting)
        bool keepSettings = false; ///< Waiting: answer the next request with the same settings
    };

    int startHelper();
    void takeOverRecord();
    void handle(helper::Request request);
    void decide(Card& card);
    void forgetIfUnanswered(const Mac& mac);
    void startProbe(Card& card);
    void stepProbe(Card& card, Clock::time_point now);
    void assign(Card& card);
    void finishCheck(Card& card, Clock::time_point now);
    void writeRecord(const Card& card, Confirmed confirmed);
    void flushRecord();
    bool finished() const;
    int report(int status);
    std::string progress() const;
    std::string startedText() const;
    bool doneBefore(const Mac& mac) const;
    long poolDone() const;
    std::string interfaceText(unsigned index) const;
    Event cardEvent(const char* name, const Card& card, const std::string& sentence) const;
    void problem(const text::Twin& said);

    const Options& m_options;
    Plan& m_plan;
    std::optional<RecordFile>& m_record;
    Reporter& m_out;
    unsigned m_ifindex;
    std::unique_ptr<helper::Link> m_link;
    std::vector<LocalAddress> m_local;
    std::map<Mac, Card> m_cards;
    std::vector<std::string> m_failures; ///< "MAC IP: reason", for the JSON summary
    std::vector<std::string> m_failedMacs;
    std::set<Mac> m_counted;    ///< cards of the roll-out given an address, in the record or now
    std::set<Mac> m_doneBefore; ///< cards the record holds as done (not pending a check)
    std::vector<Mac> m_unsaved; ///< cards staged in the record since it was last written
    std::set<Mac> m_unlisted;   ///< cards seen and not answered, each named once
    bool m_unlistedOverflow = false; ///< more of them came than are remembered
    Clock::time_point m_start;
    long m_assigned = 0;
    long m_poolAssigned = 0;
    long m_answered = 0;
    bool m_poolWarned = false;
    bool m_helperDied = false;
};

/// Whether a failed reply may succeed for the card's next request: a refusal the helper says
/// heals (it forgot or expired the request, another assignment was outstanding, a kernel
/// query failed), or an errno of a passing shortage. Such a failure is not final for the card.
bool healable(const helper::Answer& answer);
/// Whether the helper refused the reply for the address itself (it is this PC's, a gateway,
/// a subnet edge, or held by another MAC): a pool card gets another address instead.
bool addressRefused(const helper::Answer& answer);

/// Set when the operator asks to stop (see catchStopSignals): SIGINT or SIGTERM's number.
extern volatile int g_stopSignal;

} // namespace assign
