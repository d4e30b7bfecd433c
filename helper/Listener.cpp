#include "Listener.h"

#include "BootMessage.h"
#include "Filter.h"
#include "PortKeeper.h"
#include "Writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>

namespace helper {

namespace {

template <std::size_t N> bool attach(int fd, const std::array<sock_filter, N>& filter)
{
    sock_fprog program{static_cast<unsigned short>(filter.size()),
                       const_cast<sock_filter*>(filter.data())};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

Answer failed(int error)
{
    return {error, Refusal::None, std::strerror(error)};
}

/// A command's answer from the writer's result for its entry, or EPIPE when none came; the
/// command's serial is kept.
void answerEntry(Answer& answer, const EntryResult* result)
{
    const std::uint32_t serial = answer.serial;
    if (result == nullptr) {
        answer = failed(EPIPE);
    } else if (result->refusal != Refusal::None) {
        answer = {0, result->refusal, {}};
    } else {
        answer = result->error == 0 ? Answer{} : failed(result->error);
    }
    answer.serial = serial;
}

class Listener final : public PortSeams {
public:
    Listener(int udp, int packets, int writer, RouteLink& route)
        : m_udp(udp), m_packets(packets), m_writer(writer), m_route(route)
    {
    }

    int serve();

private:
    bool hostFacts(HostFacts& out) override;
    double now() override
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    Answer send(std::span<const std::uint8_t> reply, int ifindex) override;
    Answer writeEntry(const EntryRecord& record) override;
    Answer addTemporary(const TemporaryRecord& record) override;
    template <typename Record> Answer askWriter(const Record& record);

    bool isLoopback(int ifindex);
    void receiveDatagrams();
    void received(std::span<const std::uint8_t> packet, const sockaddr_ll& from, msghdr& msg);
    void reportCounters();
    Answer handle(const std::optional<ToHelper>& m);
    bool answerCommands();
    void writeEntries(std::span<Answer> answers, std::span<const std::size_t> commandOf);
    /// Hands the batch's entries to the writer without waiting for it: the next batch's
    /// replies need not wait for this one's entries. A batch's answers go out together once
    /// the writer's results are in, unless the writer falls behind (see below).
    void postEntries(std::vector<Answer> answers, std::vector<std::size_t> entryOf);
    /// Takes the writer's results for the oldest batch posted and tells what it still holds
    /// of that batch's answers.
    void completeOldest();
    void completeAll();
    /// Queues the answer, named in the log when it is a refusal.
    void tellAnswer(const Answer& answer);
    /// Queues a message for the front-end; flushTells sends what is queued in one call, so
    /// that the front-end wakes once for a batch, not once per message.
    void queueTell(const FromHelper& m) { m_told.push_back(encode(m)); }
    void flushTells();

    int m_udp;     // UDP port 67: held, and the replies leave from it
    int m_packets; // the card requests arrive here
    int m_writer;  // the link to the writer
    RouteLink& m_route;
    PortKeeper m_keeper{*this};
    // This PC's addresses and routes, read once for the commands taken in one wake-up.
    std::optional<HostFacts> m_facts;
    // The checked entries of the commands being answered, for the writer in one exchange.
    std::vector<EntryRecord> m_entries;
    std::vector<Bytes> m_told;
    /// The batches whose entries the writer holds, oldest first, as its results come back.
    struct Batch {
        std::vector<Answer> answers;
        std::vector<std::size_t> entryOf; ///< the answer of each entry posted, in order
        bool othersTold = false;          ///< the answers that are not entries' went out
    };
    std::deque<Batch> m_batches;
    static constexpr std::size_t kMaxPosted = 8;
};

void Listener::flushTells()
{
    constexpr std::size_t kPart = 64;
    std::size_t sent = 0;
    while (sent < m_told.size()) {
        mmsghdr msgs[kPart] = {};
        iovec iov[kPart];
        const std::size_t n = std::min(kPart, m_told.size() - sent);
        for (std::size_t i = 0; i < n; ++i) {
            iov[i] = {m_told[sent + i].data(), m_told[sent + i].size()};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = ::sendmmsg(kLinkFd, msgs, static_cast<unsigned>(n), MSG_NOSIGNAL);
        if (done <= 0) {
            std::exit(0); // the front-end has gone
        }
        sent += static_cast<std::size_t>(done);
    }
    m_told.clear();
}

bool Listener::hostFacts(HostFacts& out)
{
    // Every command of the batch had arrived before the first check read them: each check
    // sees the host as it was after its command came in, as when they were read per check.
    if (!m_facts) {
        HostFacts facts;
        if (m_route.hostFacts(facts) != 0) {
            return false; // not kept: the next check asks the kernel again
        }
        m_facts = std::move(facts);
    }
    out = *m_facts;
    return true;
}

bool Listener::isLoopback(int ifindex)
{
    ifreq req{};
    req.ifr_ifindex = ifindex;
    if (::ioctl(m_udp, SIOCGIFNAME, &req) != 0 || ::ioctl(m_udp, SIOCGIFFLAGS, &req) != 0) {
        return true; // an interface that cannot be named is not trusted either
    }
    return (req.ifr_flags & IFF_LOOPBACK) != 0;
}

void Listener::receiveDatagrams()
{
    // One call takes what a burst left queued, instead of one wake-up per datagram.
    constexpr std::size_t kBatch = 32;
    struct Slot {
        std::uint8_t packet[kMaxRequest + 64 + 1];
        sockaddr_ll from;
        iovec iov;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    };
    static Slot slots[kBatch];
    mmsghdr msgs[kBatch] = {};
    for (std::size_t i = 0; i < kBatch; ++i) {
        slots[i].iov = {slots[i].packet, sizeof slots[i].packet};
        msghdr& msg = msgs[i].msg_hdr;
        msg.msg_name = &slots[i].from;
        msg.msg_namelen = sizeof slots[i].from;
        msg.msg_iov = &slots[i].iov;
        msg.msg_iovlen = 1;
        msg.msg_control = slots[i].control;
        msg.msg_controllen = sizeof slots[i].control;
    }
    const int n = ::recvmmsg(m_packets, msgs, kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    for (int i = 0; i < n && m_keeper.listening(); ++i) {
        const Slot& slot = slots[i];
        if (msgs[i].msg_len > sizeof slot.packet) {
            continue;
        }
        received(std::span(slot.packet, msgs[i].msg_len), slot.from, msgs[i].msg_hdr);
    }
    flushTells();
}

void Listener::received(std::span<const std::uint8_t> packet, const sockaddr_ll& from, msghdr& msg)
{
    // Sent over a virtual link from this machine, a packet's UDP checksum may still be the
    // partial one left for the hardware; the kernel marks such packets, and those it checked.
    bool checksumPending = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_PACKET && c->cmsg_type == PACKET_AUXDATA) {
            tpacket_auxdata aux;
            std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
            checksumPending =
                (aux.tp_status & (TP_STATUS_CSUMNOTREADY | TP_STATUS_CSUM_VALID)) != 0;
        }
    }
    // Only an Ethernet broadcast that came in from the network: not what this PC sends (its
    // copies come back as outgoing), not a unicast, nothing from a tun device.
    if (!cardFrame(from.sll_pkttype, from.sll_hatype) || from.sll_ifindex <= 0) {
        return;
    }
    const auto udp = udpInIpv4(packet, checksumPending);
    if (!udp || udp->destinationPort != bootp::kServerPort) {
        return;
    }
    // Another card's request costs no more than this: no interface query, no ledger, no link.
    if (!m_keeper.wants(udp->payload) && !m_keeper.mayReport(udp->payload)) {
        return;
    }
    Arrival arrival;
    arrival.ifindex = from.sll_ifindex;
    std::memcpy(arrival.source.data(), udp->source, 4);
    std::memcpy(arrival.destination.data(), udp->destination, 4);
    arrival.sourcePort = udp->sourcePort;
    arrival.loopback = isLoopback(arrival.ifindex);
    if (auto request = m_keeper.arrived(udp->payload, arrival)) {
        queueTell(*request);
    }
}

void Listener::reportCounters()
{
    // The kernel's own count of what this search's socket took and what it dropped for a full
    // queue: only its owner can read it. A failed read is said as such, not as no drops.
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (::getsockopt(m_packets, SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) {
        std::fprintf(stderr, "torvane-helper: packet socket: counters unreadable: %s\n",
                     std::strerror(errno));
        return;
    }
    std::fprintf(stderr, "torvane-helper: packet socket: %u received, %u dropped\n",
                 stats.tp_packets, stats.tp_drops);
}

Answer Listener::send(std::span<const std::uint8_t> reply, int ifindex)
{
    // Always the limited broadcast to the client port, out of the interface the request came
    // in on: the card has no address yet, and the routing table may point elsewhere.
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(bootp::kClientPort);
    peer.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    iovec iov{const_cast<std::uint8_t*>(reply.data()), reply.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = ifindex;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (::sendmsg(m_udp, &msg, 0) != static_cast<ssize_t>(reply.size())) {
        return failed(errno);
    }
    return {};
}

Answer Listener::writeEntry(const EntryRecord& record)
{
    // The writer checks the entry again against the kernel and writes it, with the others of
    // this batch of commands; answerCommands puts its answer in place of this one.
    m_entries.push_back(record);
    return {};
}

Answer Listener::addTemporary(const TemporaryRecord& record)
{
    // The writer checks it again, probes the wire for it, and adds it.
    return askWriter(record);
}

template <typename Record> Answer Listener::askWriter(const Record& record)
{
    EntryResult result;
    if (::send(m_writer, &record, sizeof record, MSG_NOSIGNAL) != sizeof record ||
        ::recv(m_writer, &result, sizeof result, 0) != sizeof result) {
        return failed(EPIPE);
    }
    if (result.refusal != Refusal::None) {
        return {0, result.refusal, {}};
    }
    return result.error == 0 ? Answer{} : failed(result.error);
}

void Listener::writeEntries(std::span<Answer> answers, std::span<const std::size_t> commandOf)
{
    if (m_entries.empty()) {
        return;
    }
    EntryResult results[kEntriesPerExchange];
    const std::size_t size = m_entries.size() * sizeof(EntryRecord);
    const std::size_t expected = m_entries.size() * sizeof(EntryResult);
    const bool exchanged =
        ::send(m_writer, m_entries.data(), size, MSG_NOSIGNAL) == static_cast<ssize_t>(size) &&
        ::recv(m_writer, results, sizeof results, 0) == static_cast<ssize_t>(expected);
    for (std::size_t k = 0; k < m_entries.size(); ++k) {
        answerEntry(answers[commandOf[k]], exchanged ? &results[k] : nullptr);
    }
    m_entries.clear();
}

void Listener::postEntries(std::vector<Answer> answers, std::vector<std::size_t> entryOf)
{
    // Bounded, so that neither side of the writer's link ever fills.
    while (m_batches.size() >= kMaxPosted) {
        completeOldest();
    }
    const std::size_t size = m_entries.size() * sizeof(EntryRecord);
    const bool posted =
        ::send(m_writer, m_entries.data(), size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    m_entries.clear();
    if (!posted) {
        for (const std::size_t k : entryOf) {
            answerEntry(answers[k], nullptr);
        }
        for (const Answer& answer : answers) {
            tellAnswer(answer);
        }
        flushTells();
        return;
    }
    m_batches.push_back({std::move(answers), std::move(entryOf)});
    if (m_batches.size() > 1) {
        // The writer has fallen behind: the replies' answers go out now, so that the
        // front-end posts its next cards instead of waiting on entries. A card asking alone
        // keeps its answers together, and the front-end wakes once for them.
        for (Batch& batch : m_batches) {
            if (!batch.othersTold) {
                std::vector<bool> isEntry(batch.answers.size());
                for (const std::size_t k : batch.entryOf) {
                    isEntry[k] = true;
                }
                for (std::size_t i = 0; i < batch.answers.size(); ++i) {
                    if (!isEntry[i]) {
                        tellAnswer(batch.answers[i]);
                    }
                }
                batch.othersTold = true;
            }
        }
        flushTells();
    }
}

void Listener::completeOldest()
{
    if (m_batches.empty()) {
        return;
    }
    Batch& batch = m_batches.front();
    EntryResult results[kEntriesPerExchange];
    const std::size_t expected = batch.entryOf.size() * sizeof(EntryResult);
    const bool got = ::recv(m_writer, results, sizeof results, 0) == static_cast<ssize_t>(expected);
    for (std::size_t k = 0; k < batch.entryOf.size(); ++k) {
        answerEntry(batch.answers[batch.entryOf[k]], got ? &results[k] : nullptr);
    }
    if (batch.othersTold) {
        for (const std::size_t k : batch.entryOf) {
            tellAnswer(batch.answers[k]);
        }
    } else {
        for (const Answer& answer : batch.answers) {
            tellAnswer(answer);
        }
    }
    m_batches.pop_front();
    flushTells();
}

void Listener::completeAll()
{
    while (!m_batches.empty()) {
        completeOldest();
    }
}

void Listener::tellAnswer(const Answer& answer)
{
    // The front-end words the refusal from its number (AnswerTexts); this line only marks it
    // in the log, without a second English text.
    if (answer.refused()) {
        std::fprintf(stderr, "torvane-helper: refused: %d\n", static_cast<int>(answer.refusal));
    }
    queueTell(answer);
}

Answer Listener::handle(const std::optional<ToHelper>& m)
{
    if (!m) {
        return {0, Refusal::Malformed, {}};
    }
    if (std::holds_alternative<Listen>(*m)) {
        m_keeper.setListening(true);
        return {};
    }
    if (std::holds_alternative<Pause>(*m)) {
        m_keeper.setListening(false);
        // Whatever arrived until now belongs to no search.
        while (::recv(m_packets, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
        }
        return {};
    }
    if (const auto* reply = std::get_if<Reply>(&*m)) {
        return m_keeper.reply(reply->id, reply->datagram);
    }
    if (const auto* wanted = std::get_if<Want>(&*m)) {
        return m_keeper.want(wanted->macs);
    }
    if (const auto* temporary = std::get_if<Temporary>(&*m)) {
        return m_keeper.temporary(temporary->id, temporary->address, temporary->lifetime);
    }
    if (const auto* finish = std::get_if<Finish>(&*m)) {
        return m_keeper.finish(finish->id);
    }
    const auto& entry = std::get<Neighbour>(*m);
    return m_keeper.neighbour(entry.id, entry.ip, entry.mac);
}

bool Listener::answerCommands()
{
    // Whatever the front-end queued is taken in one wake-up, in order, and answered in order.
    // No more commands than entries the writer takes in one exchange.
    constexpr std::size_t kBatch = kEntriesPerExchange;
    static std::uint8_t buffers[kBatch][kMaxMessage + 1];
    std::size_t sizes[kBatch];
    std::size_t taken = 0;
    bool open = true;
    while (taken < kBatch) {
        const ssize_t n =
            ::recv(kLinkFd, buffers[taken], sizeof buffers[taken], taken == 0 ? 0 : MSG_DONTWAIT);
        if (n < 0 && taken > 0) {
            // Nothing more queued; an error shows again at the next wake-up.
            break;
        }
        if (n <= 0) {
            open = false;
            break;
        }
        sizes[taken++] = static_cast<std::size_t>(n);
    }
    m_facts.reset();
    std::vector<std::optional<Command>> commands(taken);
    bool temporary = false;
    for (std::size_t i = 0; i < taken; ++i) {
        commands[i] = decodeCommand(std::span<const std::uint8_t>(buffers[i], sizes[i]));
        temporary = temporary ||
                    (commands[i] && std::holds_alternative<Temporary>(commands[i]->message));
    }
    if (temporary) {
        // A temporary address is asked of the writer and awaited: what it holds comes first.
        completeAll();
    }
    std::vector<Answer> answers(taken);
    std::vector<std::size_t> entryCommands;
    for (std::size_t i = 0; i < taken; ++i) {
        if (commands[i] && std::holds_alternative<Temporary>(commands[i]->message)) {
            // The writer takes its work in order: the entries before this address first.
            writeEntries(answers, entryCommands);
            entryCommands.clear();
        }
        const std::size_t before = m_entries.size();
        answers[i] = handle(commands[i] ? std::optional(commands[i]->message) : std::nullopt);
        if (m_entries.size() > before) {
            entryCommands.push_back(i);
        }
    }
    if (temporary) {
        writeEntries(answers, entryCommands);
    }
    for (std::size_t i = 0; i < taken; ++i) {
        answers[i].serial = serialOf(std::span(buffers[i], sizes[i]));
    }
    // Every reply of the batch has gone out; the entries go to the writer together.
    if (!m_entries.empty()) {
        postEntries(std::move(answers), std::move(entryCommands));
    } else {
        for (const Answer& answer : answers) {
            tellAnswer(answer);
        }
        flushTells();
    }
    m_facts.reset();
    return open;
}

int Listener::serve()
{
    for (;;) {
        // The writer is waited on only while it holds a batch's entries.
        const bool posted = !m_batches.empty();
        pollfd fds[3] = {{kLinkFd, POLLIN, 0}, {m_packets, POLLIN, 0}, {m_writer, POLLIN, 0}};
        if (::poll(fds, posted ? 3 : 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        if (posted && fds[2].revents != 0) {
            completeOldest();
        }
        if (fds[0].revents != 0 && !answerCommands()) {
            reportCounters();
            return 0; // the front-end closed the link: the search is over
        }
        if (fds[1].revents & POLLIN) {
            receiveDatagrams();
        }
    }
}

} // namespace

int bindServerPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    const int on = 1;
    // No SO_REUSEADDR: another DHCP/BOOTP server on the PC makes the bind fail instead of
    // sharing its broadcasts.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(bootp::kServerPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        !attach(fd, nothingFilter()) ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    return fd;
}

int openCardPacketSocket()
{
    // Made with no protocol, so that nothing arrives before its filter is in place, then bound
    // to IPv4.
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_IP);
    const int on = 1;
    // Room for a rack's burst (a datagram takes about 2 KiB of it) while other traffic that
    // passes the filter arrives too; beyond the system's limit where the capability allows.
    const int buffer = 2 << 20;
    if (!attach(fd, cardPacketFilter()) ||
        (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) != 0) ||
        ::setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    return fd;
}

void tell(const FromHelper& m)
{
    const Bytes data = encode(m);
    if (::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL) < 0) {
        std::exit(0); // the front-end has gone
    }
}

int serveListener(int udp, int packets, int writer, RouteLink& route)
{
    Listener listener(udp, packets, writer, route);
    return listener.serve();
}

} // namespace helper
