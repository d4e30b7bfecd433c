#pragma once

#include "HttpCheck.h"
#include "Network.h"
#include "Plan.h"
#include "RecordWriter.h"
#include "ReportWording.h"
#include "Reporter.h"

#include "Link.h"

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace assign {

/// The per-card state machine of a run: what a card that asks is given, its probe, its reply
/// and neighbour entry back to back (the helper takes no second reply while an entry is
/// outstanding), its page check and its line in the record; and what is counted of the cards
/// for the report. The main loop hands it the requests and the time; it never waits itself.
class CardMachine {
public:
    using Clock = std::chrono::steady_clock;

    CardMachine(const Options& options, Plan& plan, RecordWriter& record, Reporter& reporter,
                unsigned ifindex);

    /// The started helper's link and this PC's addresses, before the first request.
    void connect(helper::Link& link, std::vector<LocalAddress> local);
    /// Counts what the record says was done, and checks again the cards it left pending.
    void takeOverRecord();
    /// The requests of one round; the replies they call for go to the helper together.
    void handle(std::vector<helper::Request> requests);
    /// Moves the probes and page checks on.
    void step(Clock::time_point now);
    /// The earliest of wake and the moment a card needs the loop again; the running page
    /// checks are added to checks.
    Clock::time_point wakeAt(Clock::time_point wake, std::vector<const HttpCheck*>& checks) const;
    /// Writes what changed in the record; a card that could not be recorded is a failure.
    void saveRecord();
    /// Every card waited for is done.
    bool finished() const;

    /// Listed cards the record does not hold as done.
    long listedLeft() const;
    /// Cards whose check the record left pending, checked again.
    long rechecks() const;
    long checking() const;
    long answered() const { return m_answered; }
    /// "12/40": cards of the roll-out given an address, of all it has.
    std::string progress() const;
    Tally tally() const;

private:
    struct Card {
        enum class Phase {
            Probing,
            Sending, ///< its reply and entry wait to go to the helper with the round's others
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
        bool queued = false;       ///< its reply is among m_queued
        bool listed = false;       ///< its MAC is on the list
        bool doneBefore = false;   ///< the record holds it as done
    };

    /// A reply built and its entry, until the round's replies go to the helper.
    struct Queued {
        Mac mac{};
        helper::Assignment assignment;
        bool again = false; ///< the card was given its address before (it asks again)
        Ip server = 0;
    };

    /// The card of mac, made if it is new.
    Card& enter(const Mac& mac, bool& isNew);
    /// The interface's name for the events, read once.
    const std::string& nameOf(unsigned index);
    void take(helper::Request request);
    void sendQueued();
    void assigned(Card& card, const Queued& q, helper::AssignmentAnswer answer);
    void decide(Card& card);
    void forgetIfUnanswered(const Mac& mac);
    void startProbe(Card& card);
    void stepProbe(Card& card, Clock::time_point now);
    void assign(Card& card);
    /// With --temporary-address: a temporary address for a card outside the interface's
    /// networks, so that its page check can reach it.
    void reachOutside(const Card& card, unsigned index);
    void finishCheck(Card& card, Clock::time_point now);
    void writeRecord(const Card& card, Confirmed confirmed);
    bool doneBefore(const Mac& mac) const;
    long poolDone() const;
    Event cardEvent(const char* name, const Card& card, const std::string& sentence) const;

    const Options& m_options;
    Plan& m_plan;
    RecordWriter& m_record;
    Reporter& m_out;
    unsigned m_ifindex;
    helper::Link* m_link = nullptr;
    std::vector<LocalAddress> m_local;
    std::map<Mac, Card> m_cards;
    std::vector<Queued> m_queued;
    std::vector<std::string> m_failures; ///< "MAC IP: reason", for the JSON summary
    std::vector<std::string> m_failedMacs;
    std::set<Mac> m_counted;    ///< cards of the roll-out given an address, in the record or now
    std::set<Mac> m_doneBefore; ///< cards the record holds as done (not pending a check)
    std::set<Mac> m_unlisted;   ///< cards seen and not answered, each named once
    bool m_unlistedOverflow = false; ///< more of them came than are remembered
    long m_assigned = 0;
    long m_answered = 0;
    bool m_poolWarned = false;
    long m_listedCount = 0;      ///< distinct MACs on the list
    long m_listedDoneBefore = 0; ///< of them, those the record holds as done
    std::map<unsigned, std::string> m_names;
};

/// Whether a failed reply may succeed for the card's next request: a refusal the helper says
/// heals (it forgot or expired the request, another assignment was outstanding, a kernel
/// query failed), or an errno of a passing shortage. Such a failure is not final for the card.
bool healable(const helper::Answer& answer);
/// Whether the helper refused the reply for the address itself (it is this PC's, a gateway,
/// a subnet edge, or held by another MAC): a pool card gets another address instead.
bool addressRefused(const helper::Answer& answer);

inline double secondsSince(std::chrono::steady_clock::time_point start,
                           std::chrono::steady_clock::time_point now)
{
    return std::chrono::duration<double>(now - start).count();
}

} // namespace assign
