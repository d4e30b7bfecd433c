#include "Runner.h"

#include "AnswerTexts.h"

#include "Host.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace assign {

volatile int g_stopSignal = 0;

namespace {

constexpr auto kTick = std::chrono::milliseconds(200);
/// Cards not answered (not listed, or the pool used up) named one by one; the rest counted.
constexpr std::size_t kMaxUnlistedNamed = 100;
/// Distinct MACs of such cards remembered, so that each is counted once.
constexpr std::size_t kMaxUnlistedKept = 10000;
// Each look at the neighbour table reads all of it: with hundreds of cards probing at once,
// looking for each every 20 ms took seconds of the loop. A card is looked at every 250 ms and
// at the end of its probe.
constexpr auto kProbeTick = std::chrono::milliseconds(250);

double secondsSince(std::chrono::steady_clock::time_point start,
                    std::chrono::steady_clock::time_point now)
{
    return std::chrono::duration<double>(now - start).count();
}

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

/// The helper's answer in the operator's language, for the sentences of the report.
std::string answerWords(const helper::Link& link, const helper::Answer& a)
{
    return link.words(a).local();
}

/// The same in English, for the machine-readable "reason" fields.
std::string answerReason(const helper::Link& link, const helper::Answer& a)
{
    return link.words(a).english;
}

} // namespace

bool healable(const helper::Answer& a)
{
    if (a.refused()) {
        return helper::refusalHeals(a.refusal);
    }
    switch (a.error) {
    case EAGAIN:
    case EINTR:
    case ENOBUFS:
    case ENOMEM:
    case ENETDOWN:
    case EBUSY:
        return true;
    default:
        return false;
    }
}

bool addressRefused(const helper::Answer& a)
{
    switch (a.refusal) {
    case helper::Refusal::LocalAddress:
    case helper::Refusal::SubnetEdge:
    case helper::Refusal::GatewayAddress:
    case helper::Refusal::OtherMac:
        return true;
    default:
        return false;
    }
}

Runner::Runner(const Options& options, Plan& plan, std::optional<RecordFile>& record,
               Reporter& reporter, unsigned ifindex)
    : m_options(options), m_plan(plan), m_record(record), m_out(reporter), m_ifindex(ifindex)
{
    // Checked for every listed card in every round: looked up, not searched for.
    if (m_record) {
        for (const RecordEntry& e : m_plan.recorded()) {
            if (e.confirmed != Confirmed::Pending || !m_options.confirm) {
                m_doneBefore.insert(e.mac);
            }
        }
    }
}

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

std::string Runner::interfaceText(unsigned index) const
{
    return interfaceName(index);
}

void Runner::problem(const text::Twin& said)
{
    m_out.error(said);
}

bool Runner::doneBefore(const Mac& mac) const
{
    return m_doneBefore.contains(mac);
}

long Runner::poolDone() const
{
    long done = m_plan.recordedFromPool();
    for (const auto& [mac, card] : m_cards) {
        if (card.fromPool && card.source == Plan::Source::Pool &&
            (card.phase == Card::Phase::Done || card.phase == Card::Phase::Failed)) {
            ++done;
        }
    }
    return done;
}

std::string Runner::progress() const
{
    const long counted = static_cast<long>(m_counted.size());
    if (m_plan.hasPool() && !m_plan.poolCount()) {
        return std::to_string(counted);
    }
    const long total = static_cast<long>(m_plan.listed().size()) + m_plan.poolCount().value_or(0);
    return std::to_string(counted) + "/" + std::to_string(total);
}

Event Runner::cardEvent(const char* name, const Card& card, const std::string& sentence) const
{
    Event e(name, sentence);
    e.add("mac", macText(card.mac));
    if (card.settings.ip != 0) {
        e.add("ip", ipText(card.settings.ip));
    }
    if (!card.name.empty()) {
        e.add("name", card.name);
    }
    return e;
}

int Runner::startHelper()
{
    text::Twin why;
    m_link = startLink(m_options, why);
    if (!m_link) {
        problem(why);
        return kExitHelper;
    }
    return 0;
}

std::string Runner::startedText() const
{
    using text::Id;
    std::vector<std::string> parts;
    long listedLeft = 0;
    for (const ListedCard& listed : m_plan.listed()) {
        listedLeft += doneBefore(listed.mac) ? 0 : 1;
    }
    if (listedLeft > 0) {
        parts.push_back(listedLeft == 1
                            ? std::string(text::tr(Id::AssignListedOne))
                            : text::format(Id::AssignListed, {std::to_string(listedLeft)}));
    }
    if (m_plan.hasPool()) {
        const std::string range = poolText(m_plan.pool()->range());
        if (!m_plan.poolCount()) {
            parts.push_back(text::format(Id::AssignPoolCards, {range}));
        } else if (*m_plan.poolCount() > m_plan.recordedFromPool()) {
            parts.push_back(text::format(
                Id::AssignPoolMore,
                {range, cardsText(*m_plan.poolCount() - m_plan.recordedFromPool()),
                 std::to_string(m_plan.recordedFromPool()), std::to_string(*m_plan.poolCount())}));
        }
    }
    long rechecks = 0;
    for (const auto& [mac, card] : m_cards) {
        rechecks += card.recheck ? 1 : 0;
    }
    if (rechecks > 0) {
        parts.push_back(text::format(Id::AssignRechecks, {cardsText(rechecks)}));
    }
    if (parts.empty() && m_plan.listed().empty() && !m_plan.hasPool()) {
        parts.push_back(text::tr(Id::AssignAnyCards));
    }
    if (parts.empty()) {
        return text::tr(Id::AssignNothingToDo);
    }
    std::string what = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        what = text::format(Id::AssignAnd, {what, parts[i]});
    }
    return m_ifindex ? text::format(Id::AssignStartedOn, {what, interfaceText(m_ifindex)})
                     : text::format(Id::AssignStarted, {what});
}

void Runner::takeOverRecord()
{
    // What the record says was done counts towards the roll-out; checks an earlier run left
    // pending (stopped by Ctrl-C) are done again.
    const auto now = Clock::now();
    for (const RecordEntry& e : m_plan.recorded()) {
        const bool listed = m_plan.isListed(e.mac);
        const bool pooled = m_plan.hasPool() && m_plan.pool()->contains(e.ip) && !listed;
        if (listed || pooled) {
            m_counted.insert(e.mac);
        }
        if (e.confirmed != Confirmed::Pending || !m_options.confirm) {
            continue;
        }
        Card& card = m_cards[e.mac];
        card.mac = e.mac;
        card.phase = Card::Phase::Checking;
        card.source = Plan::Source::Record;
        card.settings = {e.ip, e.mask, e.gateway};
        card.name = e.name;
        card.extra = e.extra;
        card.fromPool = !listed;
        card.recheck = true;
        card.request.ifindex = static_cast<std::int32_t>(m_ifindex);
        card.assignedAt = now;
        card.check = std::make_unique<HttpCheck>(
            e.ip, m_ifindex,
            now + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(m_options.confirmTimeout)));
    }
}

int Runner::run()
{
    m_start = Clock::now();
    if (const int status = startHelper(); status != 0) {
        return status;
    }
    if (netlink::Result<std::vector<LocalAddress>> local = readLocalAddresses(); local) {
        m_local = std::move(local.value());
    } else {
        problem(say(text::Id::AssignAddressesUnreadable, {errorText(local.error())}));
        return report(kExitFailed);
    }
    if (const helper::Answer a = m_link->listen(); !a.ok()) {
        problem(say(text::Id::AssignNotListening, {answerWords(*m_link, a)}));
        return report(kExitFailed);
    }
    takeOverRecord();
    {
        Event e("started", startedText());
        e.number("listed", static_cast<long>(m_plan.listed().size()));
        if (m_plan.hasPool()) {
            e.add("pool", poolText(m_plan.pool()->range()));
            if (m_plan.poolCount()) {
                e.number("count", *m_plan.poolCount());
                e.number("recorded_from_pool", m_plan.recordedFromPool());
            }
        }
        long rechecks = 0;
        for (const auto& [mac, card] : m_cards) {
            rechecks += card.recheck ? 1 : 0;
        }
        e.number("rechecks", rechecks);
        if (!m_options.interface.empty()) {
            e.add("interface", m_options.interface);
        }
        m_out.emit(e);
    }
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
        if (finished()) {
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
        Clock::time_point wake = std::min(now + kTick, deadline);
        for (auto& [mac, card] : m_cards) {
            if (card.phase == Card::Phase::Probing) {
                wake = std::min(wake, card.nextLook);
            } else if (card.phase == Card::Phase::Checking) {
                wake = std::min(wake, card.check->wakeAt());
                checks.push_back(card.check.get());
            }
        }
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now);
        waitFor(*m_link, checks,
                std::max(waitMs, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1));
        while (std::optional<helper::Request> request = m_link->readRequest()) {
            handle(std::move(*request));
        }
        if (m_link->died()) {
            m_helperDied = true;
            problem(say(text::Id::AssignHelperEnded));
            status = kExitFailed;
            break;
        }
        now = Clock::now();
        for (auto& [mac, card] : m_cards) {
            if (card.phase == Card::Phase::Probing) {
                stepProbe(card, now);
            } else if (card.phase == Card::Phase::Checking) {
                card.check->step(now);
                if (card.check->state() != HttpCheck::State::Running) {
                    finishCheck(card, now);
                }
            }
        }
        // What this round changed goes to disk before the next wait.
        flushRecord();
        if (now - lastStatus > std::chrono::milliseconds(500)) {
            lastStatus = now;
            long checking = 0;
            for (const auto& [mac, card] : m_cards) {
                checking += card.phase == Card::Phase::Checking ? 1 : 0;
            }
            char elapsed[16];
            std::snprintf(elapsed, sizeof elapsed, "%d:%02d",
                          static_cast<int>(secondsSince(m_start, now)) / 60,
                          static_cast<int>(secondsSince(m_start, now)) % 60);
            m_out.status(
                m_options.confirm
                    ? text::format(text::Id::AssignStatus, {progress(), std::to_string(m_answered),
                                                            std::to_string(checking), elapsed})
                    : text::format(text::Id::AssignStatusUnchecked, {progress(), elapsed}));
        }
    }
    m_out.status({});
    if (!m_helperDied) {
        m_link->pause();
    }
    m_link->stop();
    return report(status);
}

void Runner::handle(helper::Request request)
{
    if (m_ifindex != 0 && static_cast<unsigned>(request.ifindex) != m_ifindex) {
        return;
    }
    const Mac mac = bootp::requestMac(request.datagram);
    auto [it, isNew] = m_cards.try_emplace(mac);
    Card& card = it->second;
    if (isNew) {
        card.mac = mac;
        card.request = std::move(request);
        decide(card);
        forgetIfUnanswered(mac);
        return;
    }
    switch (card.phase) {
    case Card::Phase::Probing:
        card.request = std::move(request); // answer the newest
        break;
    case Card::Phase::Waiting:
        card.request = std::move(request);
        if (card.keepSettings) {
            card.keepSettings = false;
            assign(card);
        } else {
            decide(card);
            forgetIfUnanswered(mac);
        }
        break;
    case Card::Phase::Checking:
    case Card::Phase::Done:
        // It asks again: it missed the reply, or was restarted. Same settings again.
        card.request = std::move(request);
        m_out.emit(cardEvent(
            "asked_again", card,
            text::format(text::Id::AssignAskedAgain, {macText(mac), ipText(card.settings.ip)})));
        assign(card);
        break;
    default:
        break;
    }
}

void Runner::decide(Card& card)
{
    const Plan::Decision d = m_plan.decide(card.mac);
    card.source = d.source;
    card.settings = d.settings;
    card.name = d.name;
    card.extra = d.extra;
    card.fromPool = !m_plan.isListed(card.mac);
    const std::string where = interfaceText(static_cast<unsigned>(card.request.ifindex));
    switch (d.kind) {
    case Plan::Decision::Kind::Assign:
        assign(card);
        break;
    case Plan::Decision::Kind::Probe:
        startProbe(card);
        break;
    case Plan::Decision::Kind::NotListed:
    case Plan::Decision::Kind::PoolExhausted: {
        const bool listedNot = d.kind == Plan::Decision::Kind::NotListed;
        card.phase = listedNot ? Card::Phase::NotListed : Card::Phase::Exhausted;
        // Each such card is named once; a flood of them from foreign MACs is counted, and
        // neither the memory nor the output grows with it.
        if (m_unlisted.contains(card.mac)) {
            break;
        }
        if (m_unlisted.size() >= kMaxUnlistedKept) {
            m_unlistedOverflow = true;
            break;
        }
        m_unlisted.insert(card.mac);
        if (m_unlisted.size() <= kMaxUnlistedNamed) {
            m_out.emit(cardEvent(listedNot ? "not_listed" : "pool_exhausted", card,
                                 listedNot ? text::format(text::Id::AssignNotListed,
                                                          {macText(card.mac), where})
                                           : text::format(text::Id::AssignPoolExhausted,
                                                          {macText(card.mac), where,
                                                           poolText(m_plan.pool()->range())}))
                           .add("interface", where));
        } else if (m_unlisted.size() == kMaxUnlistedNamed + 1) {
            m_out.emit(Event("not_listed_more", text::format(text::Id::AssignUnlistedMore,
                                                             {std::to_string(kMaxUnlistedNamed)})));
        }
        break;
    }
    }
}

void Runner::forgetIfUnanswered(const Mac& mac)
{
    const auto it = m_cards.find(mac);
    if (it != m_cards.end() && (it->second.phase == Card::Phase::NotListed ||
                                it->second.phase == Card::Phase::Exhausted)) {
        m_cards.erase(it);
    }
}

void Runner::startProbe(Card& card)
{
    const unsigned index = static_cast<unsigned>(card.request.ifindex);
    card.phase = Card::Phase::Probing;
    card.probeEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(m_options.probeWait));
    card.nextLook = std::min(Clock::now() + kProbeTick, card.probeEnd);
    if (!m_poolWarned) {
        const bool onLink = std::any_of(m_local.begin(), m_local.end(), [&](const LocalAddress& a) {
            return a.index == index && (a.ip & a.mask) == (card.settings.ip & a.mask);
        });
        if (!onLink) {
            m_poolWarned = true;
            m_out.emit(
                Event("warning", text::format(text::Id::AssignOffLink,
                                              {ipText(card.settings.ip), interfaceText(index)}))
                    .add("interface", interfaceText(index)));
        }
    }
    if (!nudge(index, card.settings.ip)) {
        m_out.emit(Event("warning", text::format(text::Id::AssignNoProbe,
                                                 {ipText(card.settings.ip), errorText(errno)}))
                       .add("ip", ipText(card.settings.ip)));
    }
}

void Runner::stepProbe(Card& card, Clock::time_point now)
{
    if (now < card.nextLook) {
        return;
    }
    card.nextLook = std::min(now + kProbeTick, card.probeEnd);
    const unsigned index = static_cast<unsigned>(card.request.ifindex);
    const netlink::Result<std::optional<Neighbour>> entry =
        readNeighbourEntry(index, card.settings.ip);
    if (!entry) {
        // Whether the address is free cannot be known: it is not handed out now. The card
        // keeps asking, and its next request probes again.
        const std::string why = errorText(entry.error());
        m_out.emit(cardEvent("warning", card,
                             text::format(text::Id::AssignNeighboursUnreadable,
                                          {why, ipText(card.settings.ip)}))
                       .add("reason", why));
        m_plan.release(card.mac);
        card.phase = Card::Phase::Waiting;
        card.keepSettings = false;
        card.lastProblem = why;
        return;
    }
    const std::optional<Neighbour>& n = *entry;
    const bool taken = n && heldByOther(*n, card.mac);
    if (taken && (settled(*n) || now >= card.probeEnd)) {
        m_out.emit(Event("in_use", text::format(text::Id::AssignInUse,
                                                {ipText(card.settings.ip), interfaceText(index),
                                                 macText(*n->mac)}))
                       .add("ip", ipText(card.settings.ip))
                       .add("holder", macText(*n->mac))
                       .add("interface", interfaceText(index)));
        const Plan::Decision d = m_plan.inUse(card.mac);
        card.settings = d.settings;
        if (d.kind == Plan::Decision::Kind::Probe) {
            startProbe(card);
        } else {
            card.phase = Card::Phase::Exhausted;
            m_out.emit(
                cardEvent("pool_exhausted", card,
                          text::format(text::Id::AssignPoolUsedUp,
                                       {macText(card.mac), poolText(m_plan.pool()->range())})));
        }
        return;
    }
    if (now >= card.probeEnd) {
        assign(card);
    }
}

void Runner::assign(Card& card)
{
    const unsigned index = static_cast<unsigned>(card.request.ifindex);
    const Settings& s = card.settings;
    const Ip server = serverAddress(m_local, index, s.ip, s.mask);
    const std::vector<std::uint8_t> reply = bootp::buildReply(
        card.request.datagram, {octets(s.ip), octets(s.mask), octets(s.gateway), octets(server)});
    const bool again = card.phase == Card::Phase::Checking || card.phase == Card::Phase::Done;
    const helper::Answer sent = m_link->reply(card.request.id, reply);
    if (!sent.ok()) {
        const std::string why = answerReason(*m_link, sent);
        const bool refused = sent.refused();
        const bool heals = !again && healable(sent);
        const bool otherAddress = !again && card.fromPool && addressRefused(sent);
        std::string sentence =
            text::format(refused ? text::Id::AssignRefused : text::Id::AssignNotSent,
                         {macText(card.mac), ipText(s.ip), answerWords(*m_link, sent)});
        if (heals) {
            sentence = text::format(text::Id::AssignNextRequest, {sentence});
        } else if (otherAddress) {
            sentence = text::format(text::Id::AssignNextAddress, {sentence});
        }
        m_out.emit(
            cardEvent(refused ? "refused" : "failed", card, sentence)
                .add("reason", why)
                .number("code", static_cast<long>(sent.refused() ? -static_cast<int>(sent.refusal)
                                                                 : sent.error))
                .flag("final", !again && !heals && !otherAddress));
        if (again) {
            return;
        }
        if (heals || otherAddress) {
            // A pool address the helper refused itself is nobody's; one whose reply merely
            // has to wait stays the card's, already probed, for its next request.
            if (otherAddress) {
                m_plan.unusable(card.mac);
            }
            card.phase = Card::Phase::Waiting;
            card.keepSettings = heals;
            card.lastProblem = why;
            return;
        }
        m_plan.release(card.mac);
        card.phase = Card::Phase::Failed;
        m_failures.push_back(macText(card.mac) + " " + ipText(s.ip) + ": " + why);
        m_failedMacs.push_back(macText(card.mac));
        return;
    }
    const helper::Answer entry = m_link->neighbour(card.request.id, octets(s.ip), card.mac);
    if (!entry.ok()) {
        m_out.emit(
            cardEvent("warning", card,
                      text::format(text::Id::AssignNoNeighbour,
                                   {ipText(s.ip), macText(card.mac), answerWords(*m_link, entry)}))
                .add("reason", answerReason(*m_link, entry)));
    }
    m_plan.given(card.mac, s);
    if (again) {
        return;
    }
    card.assignedAt = Clock::now();
    ++m_assigned;
    if (card.fromPool && card.source == Plan::Source::Pool) {
        ++m_poolAssigned;
    }
    if (!card.fromPool || card.source == Plan::Source::Pool ||
        (m_plan.hasPool() && m_plan.pool()->contains(s.ip))) {
        m_counted.insert(card.mac);
    }
    const std::string where = interfaceText(index);
    const std::string source =
        std::string(sourceWord(card.source)) + (card.name.empty() ? "" : ", " + card.name);
    Event e = cardEvent(
        "assigned", card,
        text::format(text::Id::AssignAssigned, {progress(), macText(card.mac), ipText(s.ip),
                                                ipText(s.mask), ipText(s.gateway), where, source}));
    e.add("mask", ipText(s.mask))
        .add("gateway", ipText(s.gateway))
        .add("server", ipText(server))
        .add("interface", where)
        .add("source", sourceText(card.source))
        .add("progress", progress())
        .flag("neighbour", entry.ok());
    m_out.emit(e);
    if (m_options.confirm) {
        card.phase = Card::Phase::Checking;
        card.check = std::make_unique<HttpCheck>(
            s.ip, index,
            card.assignedAt + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(m_options.confirmTimeout)));
        writeRecord(card, Confirmed::Pending);
    } else {
        card.phase = Card::Phase::Done;
        writeRecord(card, Confirmed::Unchecked);
    }
}

void Runner::finishCheck(Card& card, Clock::time_point now)
{
    const double seconds = secondsSince(card.assignedAt, now);
    card.phase = Card::Phase::Done;
    card.answered = card.check->state() == HttpCheck::State::Answered;
    if (card.answered) {
        ++m_answered;
        m_out.emit(cardEvent("confirmed", card,
                             text::format(text::Id::AssignConfirmed,
                                          {progress(), macText(card.mac), ipText(card.settings.ip),
                                           card.check->statusLine(), secondsText(seconds)}))
                       .add("status", card.check->statusLine())
                       .number("seconds", seconds)
                       .number("attempts", static_cast<long>(card.check->attempts()))
                       .flag("recheck", card.recheck));
    } else {
        m_out.emit(cardEvent("unconfirmed", card,
                             text::format(text::Id::AssignUnconfirmed,
                                          {progress(), macText(card.mac), ipText(card.settings.ip),
                                           secondsText(seconds), card.check->lastError()}))
                       .add("reason", card.check->lastError())
                       .number("seconds", seconds)
                       .number("attempts", static_cast<long>(card.check->attempts()))
                       .flag("recheck", card.recheck));
        m_failures.push_back(macText(card.mac) + " " + ipText(card.settings.ip) +
                             ": no answer at http://" + ipText(card.settings.ip) + "/ (" +
                             card.check->lastError() + ")");
        m_failedMacs.push_back(macText(card.mac));
    }
    writeRecord(card, card.answered ? Confirmed::Yes : Confirmed::No);
    card.check.reset();
}

void Runner::writeRecord(const Card& card, Confirmed confirmed)
{
    if (!m_record) {
        return;
    }
    RecordEntry e;
    e.mac = card.mac;
    e.ip = card.settings.ip;
    e.mask = card.settings.mask;
    e.gateway = card.settings.gateway;
    e.confirmed = confirmed;
    e.name = card.name;
    e.extra = card.extra;
    e.time = localTimeText();
    for (const RecordEntry& old : m_record->entries()) {
        // A card the list no longer names keeps what the record knew of it.
        if (old.mac == card.mac && card.name.empty() && card.extra.empty()) {
            e.name = old.name;
            e.extra = old.extra;
        }
        // The time is the reply's: a later change of the confirmation keeps it.
        if (old.mac == card.mac && confirmed != Confirmed::Pending &&
            confirmed != Confirmed::Unchecked) {
            e.time = old.time;
        }
    }
    m_record->stage(e);
    m_unsaved.push_back(card.mac);
}

void Runner::flushRecord()
{
    if (!m_record || m_unsaved.empty()) {
        return;
    }
    std::string error;
    if (!m_record->flush(error)) {
        problem(say(text::Id::AssignRecordFailed, {error}));
        for (const Mac& mac : m_unsaved) {
            m_failures.push_back(macText(mac) + ": not recorded (" + error + ")");
            m_failedMacs.push_back(macText(mac));
        }
    }
    m_unsaved.clear();
}

bool Runner::finished() const
{
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::Checking) {
            return false;
        }
    }
    for (const ListedCard& listed : m_plan.listed()) {
        const auto it = m_cards.find(listed.mac);
        if (it == m_cards.end() ? !doneBefore(listed.mac)
                                : (it->second.phase != Card::Phase::Done &&
                                   it->second.phase != Card::Phase::Failed)) {
            return false;
        }
    }
    if (!m_plan.hasPool()) {
        return true;
    }
    if (!m_plan.poolCount()) {
        return false;
    }
    return poolDone() >= *m_plan.poolCount();
}

int Runner::report(int status)
{
    flushRecord();
    std::vector<std::string> missing;
    std::vector<std::string> waiting;
    std::vector<std::string> notListed;
    std::vector<std::string> unchecked;
    for (const ListedCard& listed : m_plan.listed()) {
        const auto it = m_cards.find(listed.mac);
        if (it == m_cards.end() ? !doneBefore(listed.mac)
                                : it->second.phase == Card::Phase::Probing) {
            missing.push_back(macText(listed.mac));
        }
    }
    for (const Mac& mac : m_unlisted) {
        notListed.push_back(macText(mac));
    }
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::NotListed || card.phase == Card::Phase::Exhausted) {
            if (!m_unlisted.contains(mac)) {
                notListed.push_back(macText(mac));
            }
        } else if (card.phase == Card::Phase::Checking) {
            unchecked.push_back(macText(mac));
        } else if (card.phase == Card::Phase::Waiting ||
                   (card.phase == Card::Phase::Probing && card.fromPool)) {
            waiting.push_back(macText(mac));
        }
    }
    const long poolMissing =
        m_plan.hasPool() && m_plan.poolCount() ? std::max(0L, *m_plan.poolCount() - poolDone()) : 0;
    if (status == kExitOk && !m_failures.empty()) {
        status = kExitFailed;
    }
    if (status == kExitTimeout && missing.empty() && waiting.empty() && poolMissing == 0 &&
        unchecked.empty()) {
        status = m_failures.empty() ? kExitOk : kExitFailed;
    } else if (status == kExitTimeout && !m_failures.empty()) {
        status = kExitFailed;
    }
    const double seconds = secondsSince(m_start, Clock::now());
    using text::Id;
    const std::string failed = std::to_string(m_failures.size());
    std::string sentence =
        m_options.confirm
            ? text::format(Id::AssignReport,
                           {progress(), std::to_string(m_answered), failed, secondsText(seconds)})
            : text::format(Id::AssignReportUnchecked, {progress(), failed, secondsText(seconds)});
    // Each failure was reported with its reason when it happened; here only who.
    if (!m_failedMacs.empty()) {
        sentence += "\n" + text::format(Id::AssignReportFailed, {listText(m_failedMacs)});
    }
    if (!missing.empty()) {
        sentence += "\n" + text::format(Id::AssignReportMissing, {listText(missing)});
    }
    if (!waiting.empty()) {
        sentence += "\n" + text::format(Id::AssignReportWaiting, {listText(waiting)});
    }
    if (poolMissing > 0) {
        sentence += "\n" + text::format(Id::AssignReportPoolMissing, {cardsText(poolMissing)});
    }
    if (!unchecked.empty()) {
        sentence += "\n" + text::format(Id::AssignReportChecking, {listText(unchecked)});
    }
    if (!notListed.empty()) {
        std::string who = listText(notListed);
        if (m_unlistedOverflow) {
            who = text::format(Id::AssignAndMany, {who});
        }
        sentence += "\n" + text::format(Id::AssignReportNotListed, {who});
    }
    Event e("summary", sentence);
    e.number("assigned", m_assigned);
    if (m_options.confirm) {
        e.number("answered", m_answered);
    }
    e.number("failed", static_cast<long>(m_failures.size()))
        .raw("failures", jsonArray(m_failures))
        .raw("missing", jsonArray(missing))
        .raw("waiting", jsonArray(waiting))
        .number("pool_missing", poolMissing)
        .raw("unchecked", jsonArray(unchecked))
        .raw("not_listed",
             jsonArray({notListed.begin(),
                        notListed.begin() +
                            static_cast<long>(std::min(notListed.size(), kMaxUnlistedNamed))}))
        .number("not_listed_count", static_cast<long>(notListed.size()))
        .flag("not_listed_uncounted", m_unlistedOverflow)
        .number("seconds", seconds)
        .number("exit", static_cast<long>(status));
    m_out.emit(e);
    return status;
}

} // namespace assign
