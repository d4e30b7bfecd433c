#include "Runner.h"

#include "Reply.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>

#include "PortOwner.h"

namespace assign {

volatile int g_stopSignal = 0;

namespace {

constexpr auto kTick = std::chrono::milliseconds(200);
constexpr auto kProbeTick = std::chrono::milliseconds(20);

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}

double secondsSince(std::chrono::steady_clock::time_point start,
                    std::chrono::steady_clock::time_point now)
{
    return std::chrono::duration<double>(now - start).count();
}

helper::Ipv4 wire(Ip ip)
{
    return {static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16),
            static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
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

std::string groupOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (const group* g = ::getgrgid(st.st_gid)) {
            return g->gr_name;
        }
    }
    return "torvane";
}

std::string answerText(const helper::Answer& a)
{
    std::string text = a.refused() ? helper::refusalText(static_cast<helper::Refusal>(a.code))
                                   : std::strerror(a.code);
    if (!a.text.empty() && a.text != text) {
        text += " (" + a.text + ")";
    }
    return text;
}

} // namespace

bool healable(const helper::Answer& a)
{
    if (a.refused()) {
        switch (static_cast<helper::Refusal>(a.code)) {
        case helper::Refusal::UnknownRequest:
        case helper::Refusal::Expired:
        case helper::Refusal::Outstanding:
            return true;
        default:
            return false;
        }
    }
    switch (a.code) {
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
    if (!a.refused()) {
        return false;
    }
    switch (static_cast<helper::Refusal>(a.code)) {
    case helper::Refusal::LocalAddress:
    case helper::Refusal::SubnetEdge:
    case helper::Refusal::GatewayAddress:
    case helper::Refusal::OtherMac:
        return true;
    default:
        return false;
    }
}

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll must return at once
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

Runner::Runner(const Options& options, Plan& plan, std::optional<RecordFile>& record,
               Reporter& reporter, unsigned ifindex)
    : m_options(options), m_plan(plan), m_record(record), m_out(reporter), m_ifindex(ifindex)
{
}

std::string Runner::interfaceText(unsigned index) const
{
    return interfaceName(index);
}

std::string Runner::progress() const
{
    const std::optional<long> pool = m_plan.hasPool() ? m_plan.poolCount() : std::optional<long>(0);
    const std::string assigned = std::to_string(m_assigned);
    if (!pool) {
        return assigned;
    }
    return assigned + "/" + std::to_string(static_cast<long>(m_plan.listed().size()) + *pool);
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
    std::string path = m_options.helper;
    if (path.empty()) {
        path = helper::locateHelper(helper::executableDir());
    }
    const helper::StartResult r = m_link.start(path);
    using helper::StartError;
    std::string message;
    switch (r.error) {
    case StartError::None:
        return 0;
    case StartError::Missing:
        message = "torvane-helper was not found (looked beside this program in " +
                  helper::executableDir() + " and in " + helper::executableDir() +
                  "/../libexec/torvane); install the torvane package, or build torvane-helper "
                  "into the same folder";
        break;
    case StartError::NotInGroup: {
        const std::string group = groupOf(r.path);
        message = "you may not run " + r.path + ": only members of the group " + group +
                  " may. Add yourself with: sudo usermod -aG " + group +
                  " $USER, then log out and in again";
        break;
    }
    case StartError::NoPrivilege:
        message = r.path +
                  " lacks the capability cap_net_bind_service, so it cannot bind UDP "
                  "port 67. The package sets it at installation; for a build tree run: "
                  "sudo setcap cap_net_bind_service,cap_net_admin+ep " +
                  r.path;
        break;
    case StartError::PortInUse: {
        const std::string owner = udpPortOwner(67);
        message = "UDP port 67 is held by " +
                  (owner.empty() ? std::string("another program (which one could not be found)")
                                 : owner) +
                  ", a DHCP or BOOTP server; stop it while torvane-assign runs";
        break;
    }
    case StartError::Died:
    case StartError::Other:
        message = "torvane-helper could not be started: " + r.detail;
        break;
    }
    m_out.error(message);
    return kExitHelper;
}

int Runner::run()
{
    m_start = Clock::now();
    if (const int status = startHelper(); status != 0) {
        return status;
    }
    m_local = localAddresses();
    if (const helper::Answer a = m_link.listen(); !a.ok()) {
        m_out.error("torvane-helper did not start listening: " + answerText(a));
        return report(kExitFailed);
    }
    {
        Event e("started", "waiting for " +
                               (m_plan.listed().empty()
                                    ? std::string("cards")
                                    : std::to_string(m_plan.listed().size()) + " listed cards") +
                               (m_plan.hasPool()
                                    ? " and cards for the pool " + poolText(m_plan.pool()->range())
                                    : std::string()) +
                               (m_ifindex ? " on " + interfaceText(m_ifindex) : std::string()) +
                               " (Ctrl-C ends)");
        e.number("listed", static_cast<long>(m_plan.listed().size()));
        if (m_plan.hasPool()) {
            e.add("pool", poolText(m_plan.pool()->range()));
            if (m_plan.poolCount()) {
                e.number("count", *m_plan.poolCount());
            }
        }
        if (!m_options.interface.empty()) {
            e.add("interface", m_options.interface);
        }
        m_out.emit(e);
    }
    const auto deadline = m_options.timeout > 0
                              ? m_start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(m_options.timeout))
                              : Clock::time_point::max();
    auto lastStatus = Clock::time_point{};
    int status = kExitOk;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (g_stopSignal != 0) {
            m_out.emit(Event("interrupted", "stopped by " + std::string(strsignal(g_stopSignal)))
                           .number("signal", static_cast<long>(g_stopSignal)));
            status = kExitSignal + g_stopSignal;
            break;
        }
        if (finished()) {
            break;
        }
        if (now >= deadline) {
            m_out.emit(
                Event("timeout", "--timeout of " + std::to_string(m_options.timeout) + " s passed")
                    .number("seconds", m_options.timeout));
            status = kExitTimeout;
            break;
        }
        std::vector<pollfd> fds{{m_link.fd(), POLLIN, 0}};
        Clock::time_point wake = std::min(now + kTick, deadline);
        for (auto& [mac, card] : m_cards) {
            if (card.phase == Card::Phase::Probing) {
                wake = std::min(wake, now + kProbeTick);
            } else if (card.phase == Card::Phase::Checking) {
                wake = std::min(wake, card.check->wakeAt());
                if (card.check->fd() >= 0) {
                    fds.push_back({card.check->fd(), card.check->events(), 0});
                }
            }
        }
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now);
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, waitMs.count()) + 1));
        while (std::optional<helper::Message> request = m_link.readRequest()) {
            handle(std::move(*request));
        }
        if (m_link.died()) {
            m_helperDied = true;
            m_out.error("torvane-helper ended during the run");
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
            m_out.status(progress() + " assigned, " + std::to_string(m_answered) + " answered, " +
                         std::to_string(checking) + " being checked, " + elapsed);
        }
    }
    m_out.status({});
    if (!m_helperDied) {
        m_link.pause();
    }
    m_link.stop();
    return report(status);
}

void Runner::handle(helper::Message request)
{
    if (m_ifindex != 0 && static_cast<unsigned>(request.number) != m_ifindex) {
        return;
    }
    const Mac mac = requestMac(request.bytes);
    auto [it, isNew] = m_cards.try_emplace(mac);
    Card& card = it->second;
    if (isNew) {
        card.mac = mac;
        card.request = std::move(request);
        decide(card);
        return;
    }
    switch (card.phase) {
    case Card::Phase::Probing:
        card.request = std::move(request); // answer the newest
        break;
    case Card::Phase::Waiting:
        card.request = std::move(request);
        decide(card);
        break;
    case Card::Phase::Checking:
    case Card::Phase::Done:
        // It asks again: it missed the reply, or was restarted. Same settings again.
        card.request = std::move(request);
        m_out.emit(cardEvent("asked_again", card,
                             macText(mac) + " asked again: answering again with " +
                                 ipText(card.settings.ip)));
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
    const std::string where = interfaceText(static_cast<unsigned>(card.request.number));
    switch (d.kind) {
    case Plan::Decision::Kind::Assign:
        assign(card);
        break;
    case Plan::Decision::Kind::Probe:
        startProbe(card);
        break;
    case Plan::Decision::Kind::NotListed:
        card.phase = Card::Phase::NotListed;
        m_out.emit(cardEvent("not_listed", card,
                             macText(card.mac) + " seen on " + where +
                                 ", not listed: not answered (add it to the list)")
                       .add("interface", where));
        break;
    case Plan::Decision::Kind::PoolExhausted:
        card.phase = Card::Phase::Exhausted;
        m_out.emit(cardEvent("pool_exhausted", card,
                             macText(card.mac) + " seen on " + where +
                                 ", not listed, and the pool " + poolText(m_plan.pool()->range()) +
                                 " has no address left: not answered")
                       .add("interface", where));
        break;
    }
}

void Runner::startProbe(Card& card)
{
    const unsigned index = static_cast<unsigned>(card.request.number);
    card.phase = Card::Phase::Probing;
    card.probeEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(m_options.probeWait));
    if (!m_poolWarned) {
        const bool onLink = std::any_of(m_local.begin(), m_local.end(), [&](const LocalAddress& a) {
            return a.index == index && (a.ip & a.mask) == (card.settings.ip & a.mask);
        });
        if (!onLink) {
            m_poolWarned = true;
            m_out.emit(Event("warning", "warning: " + ipText(card.settings.ip) +
                                            " is on no subnet of " + interfaceText(index) +
                                            ": this PC cannot see whether a pool address is in "
                                            "use there, and may not reach the cards")
                           .add("interface", interfaceText(index)));
        }
    }
    if (!nudge(index, card.settings.ip)) {
        m_out.emit(Event("warning", "warning: could not probe " + ipText(card.settings.ip) + ": " +
                                        std::strerror(errno))
                       .add("ip", ipText(card.settings.ip)));
    }
}

void Runner::stepProbe(Card& card, Clock::time_point now)
{
    const unsigned index = static_cast<unsigned>(card.request.number);
    const std::optional<Neighbour> n = neighbourEntry(index, card.settings.ip);
    const bool taken = n && heldByOther(*n, card.mac);
    if (taken && (settled(*n) || now >= card.probeEnd)) {
        m_out.emit(Event("in_use", ipText(card.settings.ip) + " already answers on " +
                                       interfaceText(index) + " (MAC " + macText(*n->mac) +
                                       "): not handed out")
                       .add("ip", ipText(card.settings.ip))
                       .add("holder", macText(*n->mac))
                       .add("interface", interfaceText(index)));
        const Plan::Decision d = m_plan.inUse(card.mac);
        card.settings = d.settings;
        if (d.kind == Plan::Decision::Kind::Probe) {
            startProbe(card);
        } else {
            card.phase = Card::Phase::Exhausted;
            m_out.emit(cardEvent("pool_exhausted", card,
                                 macText(card.mac) + ": the pool " +
                                     poolText(m_plan.pool()->range()) +
                                     " has no address left: not answered"));
        }
        return;
    }
    if (now >= card.probeEnd) {
        assign(card);
    }
}

void Runner::assign(Card& card)
{
    const unsigned index = static_cast<unsigned>(card.request.number);
    const Settings& s = card.settings;
    const Ip server = serverAddress(m_local, index, s.ip, s.mask);
    const std::vector<std::uint8_t> reply =
        cardReply(card.request.bytes, s.ip, s.mask, s.gateway, server);
    const bool again = card.phase == Card::Phase::Checking || card.phase == Card::Phase::Done;
    const helper::Answer sent = m_link.reply(card.request.id, reply);
    if (!sent.ok()) {
        const std::string why = answerText(sent);
        const bool refused = sent.refused();
        const bool heals = !again && healable(sent);
        const bool otherAddress = !again && card.fromPool && addressRefused(sent);
        std::string sentence =
            macText(card.mac) + " " + ipText(s.ip) +
            (refused ? ": torvane-helper refused the reply: " : ": the reply could not be sent: ") +
            why;
        if (heals) {
            sentence += "; its next request will be answered";
        } else if (otherAddress) {
            sentence += "; its next request gets another address from the pool";
        }
        m_out.emit(cardEvent(refused ? "refused" : "failed", card, sentence)
                       .add("reason", why)
                       .number("code", static_cast<long>(sent.code))
                       .flag("final", !again && !heals && !otherAddress));
        if (again) {
            return;
        }
        if (heals || otherAddress) {
            // The address was not given: it goes back to the pool, unless the helper said it
            // cannot be anybody's.
            if (otherAddress) {
                m_plan.unusable(card.mac);
            } else {
                m_plan.release(card.mac);
            }
            card.phase = Card::Phase::Waiting;
            card.lastProblem = why;
            return;
        }
        m_plan.release(card.mac);
        card.phase = Card::Phase::Failed;
        m_failures.push_back(macText(card.mac) + " " + ipText(s.ip) + ": " + why);
        return;
    }
    const helper::Answer entry = m_link.neighbour(card.request.id, wire(s.ip), card.mac);
    if (!entry.ok()) {
        m_out.emit(cardEvent("warning", card,
                             "warning: no neighbour entry for " + ipText(s.ip) + " -> " +
                                 macText(card.mac) + ": " + answerText(entry))
                       .add("reason", answerText(entry)));
    }
    m_plan.given(card.mac, s);
    if (again) {
        return;
    }
    card.assignedAt = Clock::now();
    ++m_assigned;
    if (card.fromPool) {
        ++m_poolAssigned;
    }
    const std::string where = interfaceText(index);
    Event e = cardEvent("assigned", card,
                        "[" + progress() + "] " + macText(card.mac) + " assigned " + ipText(s.ip) +
                            " mask " + ipText(s.mask) + " gateway " + ipText(s.gateway) + " on " +
                            where + " (" + sourceText(card.source) +
                            (card.name.empty() ? "" : ", " + card.name) + ")");
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
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    card.phase = Card::Phase::Done;
    card.answered = card.check->state() == HttpCheck::State::Answered;
    if (card.answered) {
        ++m_answered;
        m_out.emit(cardEvent("confirmed", card,
                             "[" + progress() + "] " + macText(card.mac) + " " +
                                 ipText(card.settings.ip) + " answers (" +
                                 card.check->statusLine() + ") after " + took)
                       .add("status", card.check->statusLine())
                       .number("seconds", seconds)
                       .number("attempts", static_cast<long>(card.check->attempts())));
    } else {
        m_out.emit(cardEvent("unconfirmed", card,
                             "[" + progress() + "] " + macText(card.mac) + " " +
                                 ipText(card.settings.ip) + " did not answer within " + took +
                                 ": " + card.check->lastError())
                       .add("reason", card.check->lastError())
                       .number("seconds", seconds)
                       .number("attempts", static_cast<long>(card.check->attempts())));
        m_failures.push_back(macText(card.mac) + " " + ipText(card.settings.ip) +
                             ": no answer at http://" + ipText(card.settings.ip) + "/ (" +
                             card.check->lastError() + ")");
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
    std::string error;
    if (!m_record->put(e, error)) {
        m_out.error("the record could not be written: " + error);
        m_failures.push_back(macText(card.mac) + ": not recorded (" + error + ")");
    }
}

bool Runner::finished() const
{
    for (const ListedCard& listed : m_plan.listed()) {
        const auto it = m_cards.find(listed.mac);
        if (it == m_cards.end() ||
            (it->second.phase != Card::Phase::Done && it->second.phase != Card::Phase::Failed)) {
            return false;
        }
    }
    if (!m_plan.hasPool()) {
        return true;
    }
    if (!m_plan.poolCount()) {
        return false;
    }
    long done = 0;
    for (const auto& [mac, card] : m_cards) {
        if (card.fromPool &&
            (card.phase == Card::Phase::Done || card.phase == Card::Phase::Failed)) {
            ++done;
        }
    }
    return done >= *m_plan.poolCount();
}

int Runner::report(int status)
{
    std::vector<std::string> missing;
    std::vector<std::string> notListed;
    std::vector<std::string> unchecked;
    for (const ListedCard& listed : m_plan.listed()) {
        const auto it = m_cards.find(listed.mac);
        if (it == m_cards.end() || it->second.phase == Card::Phase::Probing ||
            it->second.phase == Card::Phase::Waiting) {
            missing.push_back(macText(listed.mac));
        }
    }
    for (const auto& [mac, card] : m_cards) {
        if (card.phase == Card::Phase::NotListed || card.phase == Card::Phase::Exhausted) {
            notListed.push_back(macText(mac));
        } else if (card.phase == Card::Phase::Checking) {
            unchecked.push_back(macText(mac));
        }
    }
    const long poolMissing = m_plan.hasPool() && m_plan.poolCount()
                                 ? std::max(0L, *m_plan.poolCount() - m_poolAssigned)
                                 : 0;
    if (status == kExitOk && !m_failures.empty()) {
        status = kExitFailed;
    }
    if (status == kExitTimeout && missing.empty() && poolMissing == 0 && unchecked.empty()) {
        status = m_failures.empty() ? kExitOk : kExitFailed;
    } else if (status == kExitTimeout && !m_failures.empty()) {
        status = kExitFailed;
    }
    const double seconds = secondsSince(m_start, Clock::now());
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    std::string text = "report: " + progress() + " assigned, " + std::to_string(m_answered) +
                       " answered, " + std::to_string(m_failures.size()) + " failed, " + took +
                       " s";
    auto list = [](const std::vector<std::string>& items) {
        std::string out;
        for (const std::string& item : items) {
            out += (out.empty() ? "" : ", ") + item;
        }
        return out;
    };
    for (const std::string& f : m_failures) {
        text += "\n  failed: " + f;
    }
    if (!missing.empty()) {
        text += "\n  missing (listed, not seen): " + list(missing);
    }
    if (poolMissing > 0) {
        text += "\n  missing: " + std::to_string(poolMissing) + " more from the pool";
    }
    if (!unchecked.empty()) {
        text += "\n  still being checked: " + list(unchecked);
    }
    if (!notListed.empty()) {
        text += "\n  seen, not answered: " + list(notListed);
    }
    Event e("summary", text);
    e.number("assigned", m_assigned)
        .number("answered", m_answered)
        .number("failed", static_cast<long>(m_failures.size()))
        .raw("failures", jsonArray(m_failures))
        .raw("missing", jsonArray(missing))
        .number("pool_missing", poolMissing)
        .raw("unchecked", jsonArray(unchecked))
        .raw("not_listed", jsonArray(notListed))
        .number("seconds", seconds)
        .number("exit", static_cast<long>(status));
    m_out.emit(e);
    return status;
}

} // namespace assign
