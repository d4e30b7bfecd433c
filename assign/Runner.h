#pragma once

#include "CardMachine.h"
#include "Plan.h"
#include "RecordFile.h"
#include "RecordWriter.h"
#include "Reporter.h"

#include "Link.h"

#include <chrono>
#include <memory>
#include <optional>

namespace assign {

/// One run's main loop: starts the helper, waits for requests, the probes and the page checks
/// and hands them to the cards' state machine, writes the record after every round, and ends
/// when every card waited for is done, at --timeout or on SIGINT/SIGTERM (Ctrl-C), with the
/// summary. Probes and page checks of many cards run side by side.
class Runner {
public:
    using Clock = std::chrono::steady_clock;

    Runner(const Options& options, Plan& plan, std::optional<RecordFile>& record,
           Reporter& reporter, unsigned ifindex);
    /// The exit status.
    int run();

private:
    int startHelper();
    void announce();
    int report(int status);

    const Options& m_options;
    Plan& m_plan;
    Reporter& m_out;
    unsigned m_ifindex;
    RecordWriter m_record;
    CardMachine m_cards;
    std::unique_ptr<helper::Link> m_link;
    Clock::time_point m_start;
    bool m_helperDied = false;
};

/// Set when the operator asks to stop (see catchStopSignals): SIGINT or SIGTERM's number.
extern volatile int g_stopSignal;

} // namespace assign
