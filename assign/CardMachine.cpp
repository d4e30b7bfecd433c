// The per-card state machine: each card from its first request through probe, reply and
// neighbour entry to its page check and its line in the record.
#include "CardMachine.h"

#include "AnswerTexts.h"
#include "Temporary.h"

#include <algorithm>
#include <cerrno>

namespace assign {

namespace {

/// Distinct MACs of cards not answered remembered, so that each is counted once.
constexpr std::size_t kMaxUnlistedKept = 10000;
// Each look at the neighbour table reads all of it: with hundreds of cards probing at once,
// looking for each every 20 ms took seconds of the loop. A card is looked at every 250 ms and
// at the end of its probe.
constexpr auto kProbeTick = std::chrono::milliseconds(250);

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

CardMachine::CardMachine(const Options& options, Plan& plan, RecordWriter& record,
                         Reporter& reporter, unsigned ifindex)
    : m_options(options), m_plan(plan), m_record(record), m_out(reporter), m_ifindex(ifindex)
{
    // Checked for every listed card in every round: looked up, not searched for.
    if (m_record.enabled()) {
        for (const RecordEntry& e : m_plan.recorded()) {
            if (e.confirmed != Confirmed::Pending || !m_options.confirm) {
                m_doneBefore.insert(e.mac);
            }
        }
    }
    std::set<Mac> listed;
    for (const ListedCard& card : m_plan.listed()) {
        if (listed.insert(card.mac).second && doneBefore(card.mac)) {
            ++m_listedDoneBefore;
        }
    }
    m_listedCount = static_cast<long>(listed.size());
}

CardMachine::Card& CardMachine::enter(const Mac& mac, bool& isNew)
{
    auto [it, inserted] = m_cards.try_emplace(mac);
    isNew = inserted;
    Card& card = it->second;
    if (inserted) {
        card.mac = mac;
        card.listed = m_plan.isListed(mac);
        card.doneBefore = doneBefore(mac);
    }
    return card;
}

const std::string& CardMachine::nameOf(unsigned index)
{
    // Asked of the kernel once per run: every assigned card's event names its interface.
    auto [it, isNew] = m_names.try_emplace(index);
    if (isNew) {
        it->second = interfaceName(index);
    }
    return it->second;
}

void CardMachine::connect(helper::Link& link, std::vector<LocalAddress> local)
{
    m_link = &link;
    m_local = std::move(local);
}

void CardMachine::takeOverRecord()
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
        bool isNew = false;
        Card& card = enter(e.mac, isNew);
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

void CardMachine::handle(std::vector<helper::Request> requests)
{
    for (helper::Request& request : requests) {
        take(std::move(request));
    }
    sendQueued();
}

void CardMachine::take(helper::Request request)
{
    if (m_ifindex != 0 && static_cast<unsigned>(request.ifindex) != m_ifindex) {
        return;
    }
    const Mac mac = bootp::requestMac(request.datagram);
    bool isNew = false;
    Card& card = enter(mac, isNew);
    if (isNew) {
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
    case Card::Phase::Sending:
        break; // its reply, to an earlier request the helper still holds, goes this round
    case Card::Phase::Checking:
    case Card::Phase::Done:
        if (card.queued) {
            break; // it asked twice in one round: one reply answers both
        }
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

void CardMachine::decide(Card& card)
{
    const Plan::Decision d = m_plan.decide(card.mac);
    card.source = d.source;
    card.settings = d.settings;
    card.name = d.name;
    card.extra = d.extra;
    card.fromPool = !m_plan.isListed(card.mac);
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
            // Asked of the kernel only for the cards that are named.
            const std::string where = nameOf(static_cast<unsigned>(card.request.ifindex));
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

void CardMachine::forgetIfUnanswered(const Mac& mac)
{
    const auto it = m_cards.find(mac);
    if (it != m_cards.end() && (it->second.phase == Card::Phase::NotListed ||
                                it->second.phase == Card::Phase::Exhausted)) {
        m_cards.erase(it);
    }
}

void CardMachine::startProbe(Card& card)
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
                                              {ipText(card.settings.ip), nameOf(index)}))
                    .add("interface", nameOf(index)));
        }
    }
    if (!nudge(index, card.settings.ip)) {
        m_out.emit(Event("warning", text::format(text::Id::AssignNoProbe,
                                                 {ipText(card.settings.ip), errorText(errno)}))
                       .add("ip", ipText(card.settings.ip)));
    }
}

void CardMachine::stepProbe(Card& card, Clock::time_point now)
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
                                                {ipText(card.settings.ip), nameOf(index),
                                                 macText(*n->mac)}))
                       .add("ip", ipText(card.settings.ip))
                       .add("holder", macText(*n->mac))
                       .add("interface", nameOf(index)));
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

void CardMachine::reachOutside(const Card& card, unsigned index)
{
    const Settings& s = card.settings;
    bootp::HostFacts host;
    bool onLink = false;
    for (const LocalAddress& a : m_local) {
        const int prefix = bootp::maskPrefix(octets(a.mask)).value_or(32);
        host.addresses.push_back({octets(a.ip), prefix, static_cast<int>(a.index)});
        onLink = onLink || (a.index == index && (a.ip & a.mask) == (s.ip & a.mask));
    }
    if (onLink) {
        return;
    }
    const bootp::CardSettings settings{octets(s.ip), octets(s.mask), octets(s.gateway)};
    std::string why = text::tr(text::Id::CauseNoTemporary);
    std::optional<bootp::Ipv4> candidate = bootp::nextTemporary(settings, host);
    // As the windows do: a few devices answering for the highest hosts are passed over.
    for (int i = 0; i < 8 && candidate; ++i) {
        const helper::Answer a =
            m_link->temporary(card.request.id, *candidate, helper::kTemporaryLifetime);
        if (a.ok()) {
            m_out.emit(cardEvent("temporary", card,
                                 text::format(text::Id::AssignTemporary,
                                              {macText(card.mac), bootp::ipText(*candidate),
                                               nameOf(index)}))
                           .add("address", bootp::ipText(*candidate))
                           .add("interface", nameOf(index)));
            return;
        }
        why = answerWords(*m_link, a);
        if (a.refusal != helper::Refusal::InUse && a.refusal != helper::Refusal::LocalAddress) {
            break;
        }
        candidate = bootp::nextTemporary(settings, host, candidate);
    }
    m_out.emit(cardEvent("warning", card,
                         text::format(text::Id::AssignNoTemporary, {macText(card.mac), why}))
                   .add("reason", why));
}

void CardMachine::assign(Card& card)
{
    const unsigned index = static_cast<unsigned>(card.request.ifindex);
    const Settings& s = card.settings;
    Queued q;
    q.mac = card.mac;
    q.server = serverAddress(m_local, index, s.ip, s.mask);
    q.assignment.id = card.request.id;
    q.assignment.datagram = bootp::buildReply(
        card.request.datagram, {octets(s.ip), octets(s.mask), octets(s.gateway), octets(q.server)});
    q.assignment.ip = octets(s.ip);
    q.assignment.mac = card.mac;
    q.again = card.phase == Card::Phase::Checking || card.phase == Card::Phase::Done;
    if (!q.again) {
        card.phase = Card::Phase::Sending;
    }
    card.queued = true;
    m_queued.push_back(std::move(q));
}

void CardMachine::sendQueued()
{
    if (m_queued.empty()) {
        return;
    }
    // One exchange with the helper for the round's cards instead of one each: in a burst the
    // cards waited for each other's wake-ups, not for the checks.
    std::vector<Queued> queued = std::move(m_queued);
    m_queued.clear();
    std::vector<helper::Assignment> all;
    all.reserve(queued.size());
    for (const Queued& q : queued) {
        all.push_back(q.assignment);
    }
    if (m_options.temporaryAddress) {
        // A card that may need a temporary address gets it between its reply and its entry
        // (in assigned), and the next card's reply waits for that entry: one card at a time.
        for (const Queued& q : queued) {
            Card& card = m_cards.at(q.mac);
            card.queued = false;
            assigned(card, q,
                     {m_link->reply(q.assignment.id, q.assignment.datagram), std::nullopt});
        }
        return;
    }
    std::vector<helper::AssignmentAnswer> answers = m_link->replyThenNeighbourAll(all);
    for (std::size_t i = 0; i < queued.size(); ++i) {
        Card& card = m_cards.at(queued[i].mac);
        card.queued = false;
        assigned(card, queued[i], std::move(answers[i]));
    }
}

void CardMachine::assigned(Card& card, const Queued& q, helper::AssignmentAnswer answer)
{
    const unsigned index = static_cast<unsigned>(card.request.ifindex);
    const Settings& s = card.settings;
    const Ip server = q.server;
    const bool again = q.again;
    const helper::Answer& sent = answer.first;
    std::optional<helper::Answer>& entryAnswer = answer.second;
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
    if (!entryAnswer) {
        reachOutside(card, index);
        entryAnswer = m_link->neighbour(card.request.id, octets(s.ip), card.mac);
    }
    const helper::Answer& entry = *entryAnswer;
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
    if (!card.fromPool || card.source == Plan::Source::Pool ||
        (m_plan.hasPool() && m_plan.pool()->contains(s.ip))) {
        m_counted.insert(card.mac);
    }
    const std::string where = nameOf(index);
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

void CardMachine::finishCheck(Card& card, Clock::time_point now)
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

void CardMachine::step(Clock::time_point now)
{
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
    sendQueued(); // the probes that ended
}

CardMachine::Clock::time_point CardMachine::wakeAt(Clock::time_point wake,
                                                   std::vector<const HttpCheck*>& checks) const
{
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::Probing) {
            wake = std::min(wake, card.nextLook);
        } else if (card.phase == Card::Phase::Checking) {
            wake = std::min(wake, card.check->wakeAt());
            checks.push_back(card.check.get());
        }
    }
    return wake;
}

void CardMachine::writeRecord(const Card& card, Confirmed confirmed)
{
    RecordEntry e;
    e.mac = card.mac;
    e.ip = card.settings.ip;
    e.mask = card.settings.mask;
    e.gateway = card.settings.gateway;
    e.confirmed = confirmed;
    e.name = card.name;
    e.extra = card.extra;
    m_record.write(std::move(e));
}

void CardMachine::saveRecord()
{
    std::string error;
    const std::vector<Mac> lost = m_record.flush(error);
    if (lost.empty()) {
        return;
    }
    m_out.error(say(text::Id::AssignRecordFailed, {error}));
    for (const Mac& mac : lost) {
        m_failures.push_back(macText(mac) + ": not recorded (" + error + ")");
        m_failedMacs.push_back(macText(mac));
    }
}

bool CardMachine::finished() const
{
    // One pass without lookups: the loop asks after every wake-up, and a rack is hundreds of
    // cards. A listed card is through when its card is done or failed, or, never seen in this
    // run, when the record holds it as done.
    long through = 0;
    long seenDoneBefore = 0;
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::Checking) {
            return false;
        }
        if (card.listed) {
            through += card.phase == Card::Phase::Done || card.phase == Card::Phase::Failed;
            seenDoneBefore += card.doneBefore;
        }
    }
    if (through + m_listedDoneBefore - seenDoneBefore != m_listedCount) {
        return false;
    }
    if (!m_plan.hasPool()) {
        return true;
    }
    if (!m_plan.poolCount()) {
        return false;
    }
    return poolDone() >= *m_plan.poolCount();
}

bool CardMachine::doneBefore(const Mac& mac) const
{
    return m_doneBefore.contains(mac);
}

long CardMachine::poolDone() const
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

std::string CardMachine::progress() const
{
    const long counted = static_cast<long>(m_counted.size());
    if (m_plan.hasPool() && !m_plan.poolCount()) {
        return std::to_string(counted);
    }
    const long total = static_cast<long>(m_plan.listed().size()) + m_plan.poolCount().value_or(0);
    return std::to_string(counted) + "/" + std::to_string(total);
}

Event CardMachine::cardEvent(const char* name, const Card& card, const std::string& sentence) const
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

long CardMachine::listedLeft() const
{
    long left = 0;
    for (const ListedCard& listed : m_plan.listed()) {
        left += doneBefore(listed.mac) ? 0 : 1;
    }
    return left;
}

long CardMachine::rechecks() const
{
    long rechecks = 0;
    for (const auto& [mac, card] : m_cards) {
        rechecks += card.recheck ? 1 : 0;
    }
    return rechecks;
}

long CardMachine::checking() const
{
    long checking = 0;
    for (const auto& [mac, card] : m_cards) {
        checking += card.phase == Card::Phase::Checking ? 1 : 0;
    }
    return checking;
}

Tally CardMachine::tally() const
{
    Tally t;
    t.progress = progress();
    t.assigned = m_assigned;
    t.answered = m_answered;
    t.failures = m_failures;
    t.failedMacs = m_failedMacs;
    for (const ListedCard& listed : m_plan.listed()) {
        const auto it = m_cards.find(listed.mac);
        if (it == m_cards.end() ? !doneBefore(listed.mac)
                                : it->second.phase == Card::Phase::Probing) {
            t.missing.push_back(macText(listed.mac));
        }
    }
    for (const Mac& mac : m_unlisted) {
        t.notListed.push_back(macText(mac));
    }
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::NotListed || card.phase == Card::Phase::Exhausted) {
            if (!m_unlisted.contains(mac)) {
                t.notListed.push_back(macText(mac));
            }
        } else if (card.phase == Card::Phase::Checking) {
            t.unchecked.push_back(macText(mac));
        } else if (card.phase == Card::Phase::Waiting ||
                   (card.phase == Card::Phase::Probing && card.fromPool)) {
            t.waiting.push_back(macText(mac));
        }
    }
    t.notListedUncounted = m_unlistedOverflow;
    t.poolMissing =
        m_plan.hasPool() && m_plan.poolCount() ? std::max(0L, *m_plan.poolCount() - poolDone()) : 0;
    return t;
}

} // namespace assign
