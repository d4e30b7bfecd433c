// The main loop of a run: the helper started and stopped, the waits, the rounds of the cards'
// state machine, the record written after each round, and the exit status of the summary.
#include "Runner.h"

#include "Host.h"

#include <algorithm>

namespace assign {

volatile int g_stopSignal = 0;

namespace {

constexpr auto kTick = std::chrono::milliseconds(200);
constexpr std::size_t kRound = 256;

} // namespace

Runner::Runner(const Options& options, Plan& plan, std::optional<RecordFile>& record,
               Reporter& reporter, unsigned ifindex)
    : m_options(options), m_plan(plan), m_out(reporter), m_ifindex(ifindex), m_record(record),
      m_cards(options, plan, m_record, reporter, ifindex)
{
}

int Runner::startHelper()
{
    text::Twin why;
    m_link = startLink(m_options, why);
    if (!m_link) {
        m_out.error(why);
        return kExitHelper;
    }
    return 0;
}

void Runner::announce()
{
    Event e("started", startedText(m_plan, m_cards.listedLeft(), m_cards.rechecks(), m_ifindex));
    e.number("listed", static_cast<long>(m_plan.listed().size()));
    if (m_plan.hasPool()) {
        e.add("pool", poolText(m_plan.pool()->range()));
        if (m_plan.poolCount()) {
            e.number("count", *m_plan.poolCount());
            e.number("recorded_from_pool", m_plan.recordedFromPool());
        }
    }
    e.number("rechecks", m_cards.rechecks());
    if (!m_options.interface.empty()) {
        e.add("interface", m_options.interface);
    }
    m_out.emit(e);
}

int Runner::run()
{
    m_start = Clock::now();
    if (const int status = startHelper(); status != 0) {
        return status;
    }
    if (netlink::Result<std::vector<LocalAddress>> local = readLocalAddresses(); local) {
        m_cards.connect(*m_link, std::move(local.value()));
    } else {
        m_out.error(say(text::Id::AssignAddressesUnreadable, {errorText(local.error())}));
        return report(kExitFailed);
    }
    // Without a pool only the listed cards can be answered: the helper drops the others'
    // requests before they take room or time. A pool (or a list longer than the helper keeps)
    // wants every card.
    if (!m_plan.hasPool() && m_plan.listed().size() <= helper::kMaxWanted) {
        std::vector<helper::Mac> macs;
        macs.reserve(m_plan.listed().size());
        for (const ListedCard& card : m_plan.listed()) {
            macs.push_back(card.mac);
        }
        if (const helper::Answer a = m_link->want(macs); !a.ok()) {
            m_out.error(say(text::Id::AssignNotListening, {answerWords(*m_link, a)}));
            return report(kExitFailed);
        }
    }
    if (const helper::Answer a = m_link->listen(); !a.ok()) {
        m_out.error(say(text::Id::AssignNotListening, {answerWords(*m_link, a)}));
        return report(kExitFailed);
    }
    m_cards.takeOverRecord();
    announce();
    const auto deadline = m_options.timeout
                              ? m_start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(*m_options.timeout))
                              : Clock::time_point::max();
    auto lastStatus = Clock::time_point{};
    int status = kExitOk;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (g_stopSignal != 0) {
            m_out.emit(Event("interrupted",
                             text::format(text::Id::AssignInterrupted, {stopName(g_stopSignal)}))
                           .number("signal", static_cast<long>(g_stopSignal)));
            status = kExitSignal + g_stopSignal;
            break;
        }
        if (m_cards.finished()) {
            break;
        }
        if (now >= deadline) {
            m_out.emit(Event("timeout",
                             text::format(text::Id::AssignTimeout, {limitText(*m_options.timeout)}))
                           .number("seconds", *m_options.timeout));
            status = kExitTimeout;
            break;
        }
        std::vector<const HttpCheck*> checks;
        const Clock::time_point wake = m_cards.wakeAt(std::min(now + kTick, deadline), checks);
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now);
        waitFor(*m_link, checks,
                std::max(waitMs, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1));
        // What arrived is handled in rounds, its replies sent together; a round is bounded,
        // so that a flood of requests is not gathered in memory first.
        for (;;) {
            std::vector<helper::Request> round;
            while (round.size() < kRound) {
                std::optional<helper::Request> request = m_link->readRequest();
                if (!request) {
                    break;
                }
                round.push_back(std::move(*request));
            }
            if (round.empty()) {
                break;
            }
            m_cards.handle(std::move(round));
        }
        if (m_link->died()) {
            m_helperDied = true;
            m_out.error(say(text::Id::AssignHelperEnded));
            status = kExitFailed;
            break;
        }
        now = Clock::now();
        m_cards.step(now);
        // What this round changed goes to disk before the next wait.
        m_cards.saveRecord();
        if (now - lastStatus > std::chrono::milliseconds(500)) {
            lastStatus = now;
            m_out.status(statusText(m_options.confirm, m_cards.progress(), m_cards.answered(),
                                    m_cards.checking(), secondsSince(m_start, now)));
        }
    }
    m_out.status({});
    if (!m_helperDied) {
        m_link->pause();
    }
    m_link->stop();
    return report(status);
}

int Runner::report(int status)
{
    m_cards.saveRecord();
    const Tally tally = m_cards.tally();
    if (status == kExitOk && !tally.failures.empty()) {
        status = kExitFailed;
    }
    if (status == kExitTimeout && tally.missing.empty() && tally.waiting.empty() &&
        tally.poolMissing == 0 && tally.unchecked.empty()) {
        status = tally.failures.empty() ? kExitOk : kExitFailed;
    } else if (status == kExitTimeout && !tally.failures.empty()) {
        status = kExitFailed;
    }
    const double seconds = secondsSince(m_start, Clock::now());
    m_out.emit(summaryEvent(tally, m_options.confirm, seconds, status));
    return status;
}

} // namespace assign
