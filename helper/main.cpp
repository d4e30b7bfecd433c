// torvane-helper: the one program of Torvane that holds privileges. A front-end (the windows,
// torvane-assign) starts it for one search with its end of a socketpair on descriptor 3. It
// binds UDP port 67, keeps only cap_net_admin, passes card requests on, and carries out the
// front-end's reply and neighbour entry only after checking them against the request it
// passed on. It ends when the link closes.
#include "BootMessage.h"
#include "Filter.h"
#include "Kernel.h"
#include "Policy.h"
#include "Protocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace helper;

namespace {

int g_udp = -1;
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

void send(const Message& m)
{
    const Bytes data = encode(m);
    if (::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL) < 0) {
        std::exit(0); // the front-end has gone
    }
}

Message answer(std::int32_t code, const char* text = "")
{
    Message m{Tag::Answer};
    m.number = code;
    m.text = text;
    return m;
}

Message refuse(Refusal r)
{
    std::fprintf(stderr, "torvane-helper: refused: %s\n", refusalText(r));
    return answer(static_cast<std::int32_t>(r), refusalText(r));
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

/// The listening socket on 0.0.0.0:67, with the card filter; -errno on failure.
int bindServerPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    const int on = 1;
    const auto& filter = cardRequestFilter();
    sock_fprog program{static_cast<unsigned short>(filter.size()),
                       const_cast<sock_filter*>(filter.data())};
    // No SO_REUSEADDR: another DHCP/BOOTP server on the PC makes the bind fail instead of
    // sharing its broadcasts.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(bootp::kServerPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
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
    std::uint8_t data[kMaxRequest + 1];
    Datagram d(data, sizeof data);
    msghdr& msg = d.msg;
    const sockaddr_in& from = d.peer;
    const ssize_t n = ::recvmsg(g_udp, &msg, MSG_DONTWAIT);
    if (n < 0 || !g_listening || (msg.msg_flags & MSG_TRUNC) != 0) {
        return;
    }
    int ifindex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            ifindex = info.ipi_ifindex;
        }
    }
    const std::span datagram(data, static_cast<std::size_t>(n));
    if (ifindex <= 0 || !passOn(datagram, ntohs(from.sin_port), isLoopback(ifindex))) {
        return;
    }
    Message request{Tag::Request};
    request.bytes.assign(datagram.begin(), datagram.end());
    request.number = ifindex;
    request.id = g_ledger.remember(request.bytes, ifindex, now());
    send(request);
}

Message sendReply(const Message& m)
{
    if (const auto refusal = g_ledger.mayReply(m.id, now())) {
        return refuse(*refusal);
    }
    const Ledger::Entry& entry = *g_ledger.find(m.id);
    if (const auto refusal = checkReply(entry.request, m.bytes, readNetFacts())) {
        return refuse(*refusal);
    }
    // Always the limited broadcast to the client port, out of the interface the request came
    // in on: the card has no address yet, and the routing table may point elsewhere.
    Datagram d(const_cast<std::uint8_t*>(m.bytes.data()), m.bytes.size());
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
    if (::sendmsg(g_udp, &d.msg, 0) != static_cast<ssize_t>(m.bytes.size())) {
        const int err = errno;
        return answer(err, std::strerror(err));
    }
    Ipv4 yiaddr;
    std::copy_n(m.bytes.begin() + bootp::kYiaddr, 4, yiaddr.begin());
    g_ledger.replied(m.id, yiaddr);
    return answer(0);
}

Message writeEntry(const Message& m)
{
    if (const auto refusal = g_ledger.mayWriteNeighbour(m.id, m.ip, m.mac, now())) {
        return refuse(*refusal);
    }
    const int ifindex = g_ledger.find(m.id)->ifindex;
    g_ledger.finished(m.id);
    if (const auto refusal = checkAddress(m.ip, readNetFacts())) {
        return refuse(*refusal);
    }
    if (const auto present = neighbourMac(ifindex, m.ip); present && *present != m.mac) {
        return refuse(Refusal::OtherMac);
    }
    // cap_net_admin is in effect for this one call only.
    if (!setCapabilities(kCapNetAdmin, kCapNetAdmin)) {
        return answer(EPERM, "cannot raise cap_net_admin");
    }
    const int err = writeNeighbour(ifindex, m.ip, m.mac);
    setCapabilities(kCapNetAdmin, 0);
    return answer(err, err == 0 ? "" : std::strerror(err));
}

Message handle(const std::optional<Message>& m)
{
    if (!m) {
        return refuse(Refusal::Malformed);
    }
    switch (m->tag) {
    case Tag::Listen:
        g_listening = true;
        return answer(0);
    case Tag::Pause:
        g_listening = false;
        // Whatever arrived until now belongs to no search.
        while (::recv(g_udp, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
        }
        return answer(0);
    case Tag::Reply:
        return sendReply(*m);
    case Tag::Neighbour:
        return writeEntry(*m);
    default:
        return refuse(Refusal::Malformed);
    }
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

    g_udp = bindServerPort();
    Message bound{Tag::Bound};
    bound.number = g_udp < 0 ? -g_udp : 0;
    // Port 67 is bound or refused: the capability that binds it goes, whatever the outcome;
    // cap_net_admin stays permitted but not in effect.
    if (!setCapabilities(kCapNetAdmin, 0)) {
        fail("capset");
    }
    if (!restrictSystemCalls()) {
        fail("seccomp");
    }
    send(bound);
    if (g_udp < 0) {
        return 1;
    }

    for (;;) {
        pollfd fds[2] = {{kLinkFd, POLLIN, 0}, {g_udp, POLLIN, 0}};
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
            send(handle(decode(std::span(buffer, static_cast<std::size_t>(n)))));
        }
        if (fds[1].revents & POLLIN) {
            receiveDatagram();
        }
    }
}
