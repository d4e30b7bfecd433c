// torvane-helper: the one program of Torvane that holds privileges. A front-end (the windows,
// torvane-assign) starts it for one search with its end of a socketpair on descriptor 3.
// After dhcpcd's privilege separation it is two processes:
// - the listener binds UDP port 67 and opens a packet socket for card requests (below the
//   host firewall), then gives up every capability; it reads datagrams and
//   the front-end's messages, passes card requests on, and sends a reply only after checking
//   it against the request it passed on;
// - the writer, forked before anything untrusted is read, holds cap_net_admin alone; it takes
//   fixed-size entry records from the listener, checks them again against the kernel and
//   writes the neighbour entry so that it never replaces another MAC's.
// Both open every socket before a system-call filter that lets them open none. They end when
// the link closes.
#include "BootMessage.h"
#include "Filter.h"
#include "Kernel.h"
#include "Policy.h"
#include "Protocol.h"
#include "SystemCalls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>

using namespace helper;

namespace {

int g_udp = -1;     // UDP port 67: held, and the replies leave from it
int g_packets = -1; // the card requests arrive here
int g_writer = -1;  // the listener's end of its link to the writer
RouteLink* g_route = nullptr;
Ledger g_ledger;
bool g_listening = false;

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void fail(const char* what)
{
    std::fprintf(stderr, "torvane-helper: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void send(const FromHelper& m)
{
    const Bytes data = encode(m);
    if (::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL) < 0) {
        std::exit(0); // the front-end has gone
    }
}

Answer done()
{
    return {};
}

Answer failed(int error)
{
    return {error, Refusal::None, std::strerror(error)};
}

Answer refuse(Refusal r)
{
    std::fprintf(stderr, "torvane-helper: refused: %s\n", refusalText(r));
    return {0, r, refusalText(r)};
}

/// Descriptor 3 must be a SOCK_SEQPACKET unix socket: the link to the front-end.
bool linkIsSocketpair()
{
    int type = 0;
    int domain = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(kLinkFd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        return false;
    }
    size = sizeof domain;
    return ::getsockopt(kLinkFd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX &&
           type == SOCK_SEQPACKET;
}

template <std::size_t N> bool attach(int fd, const std::array<sock_filter, N>& filter)
{
    sock_fprog program{static_cast<unsigned short>(filter.size()),
                       const_cast<sock_filter*>(filter.data())};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

/// The socket on 0.0.0.0:67 that holds the port and sends the replies; it queues nothing.
/// -errno on failure.
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

/// The packet socket that card requests are read from, below the host firewall; -errno on
/// failure. It is made with no protocol, so that nothing arrives before its filter is in
/// place, then bound to IPv4.
int openCardPacketSocket()
{
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_IP);
    const int on = 1;
    if (!attach(fd, cardPacketFilter()) ||
        ::setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    return fd;
}

bool isLoopback(int ifindex)
{
    ifreq req{};
    req.ifr_ifindex = ifindex;
    if (::ioctl(g_udp, SIOCGIFNAME, &req) != 0 || ::ioctl(g_udp, SIOCGIFFLAGS, &req) != 0) {
        return true; // an interface that cannot be named is not trusted either
    }
    return (req.ifr_flags & IFF_LOOPBACK) != 0;
}

/// One datagram with its peer address and room for an IP_PKTINFO record, for recvmsg/sendmsg.
struct Datagram {
    Datagram(void* data, std::size_t size) : iov{data, size}
    {
        msg.msg_name = &peer;
        msg.msg_namelen = sizeof peer;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
    }
    Datagram(const Datagram&) = delete;
    Datagram& operator=(const Datagram&) = delete;

    sockaddr_in peer{};
    iovec iov;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
};

void receiveDatagram()
{
    std::uint8_t packet[kMaxRequest + 64 + 1];
    sockaddr_ll from{};
    iovec iov{packet, sizeof packet};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))] = {};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(g_packets, &msg, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 || !g_listening || static_cast<std::size_t>(n) > sizeof packet) {
        return;
    }
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
    // Only what came in from the network: not what this PC sends (its copies come back as
    // outgoing), nor what a promiscuous interface overhears for other hosts.
    if (from.sll_pkttype != PACKET_HOST && from.sll_pkttype != PACKET_BROADCAST) {
        return;
    }
    const int ifindex = from.sll_ifindex;
    const auto udp = udpInIpv4(std::span(packet, static_cast<std::size_t>(n)), checksumPending);
    if (ifindex <= 0 || !udp || udp->destinationPort != bootp::kServerPort ||
        !passOn(udp->payload, udp->sourcePort, isLoopback(ifindex))) {
        return;
    }
    Ipv4 source;
    std::memcpy(source.data(), udp->source, 4);
    if (bootp::toValue(source) != 0) {
        // Only a sender with an address can be this PC itself; a failed query passes nothing.
        HostFacts host;
        if (g_route->hostFacts(host) != 0 || fromThisPc(source, host)) {
            return;
        }
    }
    Request request;
    request.datagram.assign(udp->payload.begin(), udp->payload.end());
    request.ifindex = ifindex;
    request.id = g_ledger.remember(request.datagram, ifindex, now());
    send(request);
}

Answer sendReply(const Reply& m)
{
    if (const auto refusal = g_ledger.mayReply(m.id, now())) {
        return refuse(*refusal);
    }
    const Ledger::Entry& entry = *g_ledger.find(m.id);
    HostFacts host;
    if (g_route->hostFacts(host) != 0) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = checkReply(entry.request, m.datagram, entry.ifindex, host)) {
        return refuse(*refusal);
    }
    // Always the limited broadcast to the client port, out of the interface the request came
    // in on: the card has no address yet, and the routing table may point elsewhere.
    Datagram d(const_cast<std::uint8_t*>(m.datagram.data()), m.datagram.size());
    d.peer.sin_family = AF_INET;
    d.peer.sin_port = htons(bootp::kClientPort);
    d.peer.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    cmsghdr* c = CMSG_FIRSTHDR(&d.msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = entry.ifindex;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (::sendmsg(g_udp, &d.msg, 0) != static_cast<ssize_t>(m.datagram.size())) {
        return failed(errno);
    }
    Ipv4 yiaddr;
    std::copy_n(m.datagram.begin() + bootp::kYiaddr, 4, yiaddr.begin());
    g_ledger.replied(m.id, yiaddr);
    return done();
}

Answer writeEntry(const Neighbour& m)
{
    if (const auto refusal = g_ledger.mayWriteNeighbour(m.id, m.ip, m.mac, now())) {
        return refuse(*refusal);
    }
    const int ifindex = g_ledger.find(m.id)->ifindex;
    g_ledger.finished(m.id);
    HostFacts host;
    if (g_route->hostFacts(host) != 0) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = checkEntry(m.ip, m.mac, host)) {
        return refuse(*refusal);
    }
    // The writer checks the entry again against the kernel and writes it.
    const EntryRecord record{ifindex, m.ip, m.mac};
    EntryResult result;
    if (::send(g_writer, &record, sizeof record, MSG_NOSIGNAL) != sizeof record ||
        ::recv(g_writer, &result, sizeof result, 0) != sizeof result) {
        return failed(EPIPE);
    }
    if (result.refusal != Refusal::None) {
        return refuse(result.refusal);
    }
    return result.error == 0 ? done() : failed(result.error);
}

Answer handle(const std::optional<ToHelper>& m)
{
    if (!m) {
        return refuse(Refusal::Malformed);
    }
    if (std::holds_alternative<Listen>(*m)) {
        g_listening = true;
        return done();
    }
    if (std::holds_alternative<Pause>(*m)) {
        g_listening = false;
        // Whatever arrived until now belongs to no search.
        while (::recv(g_packets, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
        }
        return done();
    }
    if (const auto* reply = std::get_if<Reply>(&*m)) {
        return sendReply(*reply);
    }
    return writeEntry(std::get<Neighbour>(*m));
}

/// The writer's answer to one record, checked again against the kernel.
EntryResult writeChecked(RouteLink& route, const EntryRecord& r)
{
    HostFacts host;
    if (route.hostFacts(host) != 0) {
        return {0, Refusal::KernelQuery};
    }
    if (const auto refusal = checkEntry(r.ip, r.mac, host)) {
        return {0, *refusal};
    }
    RouteLink::NeighbourEntry present;
    if (route.neighbour(r.ifindex, r.ip, present) != 0) {
        return {0, Refusal::KernelQuery};
    }
    if (present.hasMac && present.mac != r.mac) {
        return {0, Refusal::OtherMac};
    }
    const int err = route.addPermanent(r.ifindex, r.ip, r.mac);
    if (err == EEXIST) {
        return {0, Refusal::OtherMac}; // appeared after the check; it was left as it was
    }
    return {err, Refusal::None};
}

/// The neighbour-table writer: the one process that holds cap_net_admin. It reads only
/// fixed-size records from the listener and can open nothing.
[[noreturn]] void runWriter(int link)
{
    if (!setCapabilities(kCapNetAdmin, kCapNetAdmin)) {
        fail("capset (writer)");
    }
    RouteLink route;
    if (route.error() != 0) {
        errno = route.error();
        fail("rtnetlink (writer)");
    }
    if (!installSystemCallFilter(systemCallFilter(writerCalls()))) {
        fail("seccomp (writer)");
    }
    // Ready: the listener answers its front-end only once the writer is in this state.
    const EntryResult ready{};
    if (::send(link, &ready, sizeof ready, MSG_NOSIGNAL) != sizeof ready) {
        std::exit(0);
    }
    for (;;) {
        EntryRecord record;
        const ssize_t n = ::recv(link, &record, sizeof record, 0);
        if (n <= 0) {
            std::exit(0); // the listener has gone
        }
        EntryResult result{0, Refusal::Malformed};
        if (n == sizeof record && record.ifindex > 0 && record.zero == decltype(record.zero){}) {
            result = writeChecked(route, record);
        }
        if (::send(link, &result, sizeof result, MSG_NOSIGNAL) != sizeof result) {
            std::exit(0);
        }
    }
}

/// Starts the writer on its own socketpair; returns the listener's end.
int startWriter()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        fail("socketpair");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        // The writer keeps nothing of the listener's: not the front-end's link, no socket.
        if (::dup2(pair[1], kLinkFd) < 0 || ::close_range(kLinkFd + 1, ~0U, 0) != 0) {
            fail("writer descriptors");
        }
        runWriter(kLinkFd);
    }
    ::close(pair[1]);
    return pair[0];
}

} // namespace

int main(int argc, char**)
{
    // Nothing is taken from the caller but the link: no arguments, no environment, no other
    // descriptor; standard input and output become /dev/null.
    ::clearenv();
    if (argc != 1 || !linkIsSocketpair()) {
        std::fputs("torvane-helper: started by torvane and torvane-assign only\n", stderr);
        return 2;
    }
    if (::close_range(kLinkFd + 1, ~0U, 0) != 0) {
        fail("close_range");
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0) {
        fail("/dev/null");
    }
    ::close(null);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        fail("prctl");
    }

    g_writer = startWriter();
    // Every socket the listener will use is opened now: after the filter below none can be.
    RouteLink route;
    g_route = &route;
    g_udp = bindServerPort();
    g_packets = g_udp < 0 ? g_udp : openCardPacketSocket();
    Bound bound{g_udp < 0 ? -g_udp : g_packets < 0 ? -g_packets : route.error()};
    // Port 67 is bound or refused: the listener gives up every capability, whatever the
    // outcome. Only the writer holds cap_net_admin.
    if (!setCapabilities(0, 0)) {
        fail("capset");
    }
    if (!installSystemCallFilter(systemCallFilter(listenerCalls()))) {
        fail("seccomp");
    }
    // The search starts only with a writer that has given up all but cap_net_admin and is
    // under its filter; one that failed to get there has ended, and so does the search.
    EntryResult ready;
    if (bound.error == 0 && ::recv(g_writer, &ready, sizeof ready, 0) != sizeof ready) {
        bound.error = EPIPE;
    }
    send(bound);
    if (bound.error != 0) {
        return 1;
    }

    for (;;) {
        pollfd fds[2] = {{kLinkFd, POLLIN, 0}, {g_packets, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        if (fds[0].revents != 0) {
            std::uint8_t buffer[kMaxMessage + 1];
            const ssize_t n = ::recv(kLinkFd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return 0; // the front-end closed the link: the search is over
            }
            send(handle(decodeToHelper(std::span(buffer, static_cast<std::size_t>(n)))));
        }
        if (fds[1].revents & POLLIN) {
            receiveDatagram();
        }
    }
}
