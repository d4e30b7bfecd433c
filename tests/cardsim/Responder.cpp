// A minimal boot server for the namespace tests: answers card requests on port 67 with the
// shared reply code, out of the interface each request came in on.
//
//   cardsim_responder --address A --mask M --gateway G --server S
//                     [--count N] [--skip N] [--flip OFFSET] [--seconds S] [--distinct 1]
//
// --count: exit after N replies; --skip: leave the first N card requests unanswered (the card
// must repeat); --flip: invert one byte of each reply after it is made (a broken server);
// --seconds: give up after S seconds (default 30); --distinct 1: the k-th card (by chaddr, in
// order of arrival, from 0) is given --address + k; --answer-all 1: every other BOOTREQUEST is
// sent back too, as a BOOTREPLY with the client's xid and chaddr (a server that answers foreign
// DHCP clients). On exit it prints one line of counts.

#include "BootMessage.h"
#include "BootP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "cardsim_responder: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

behaviour::Octets address(const char* text)
{
    behaviour::Octets octets{};
    if (::inet_pton(AF_INET, text, octets.data()) != 1) {
        std::fprintf(stderr, "cardsim_responder: not an address: %s\n", text);
        std::exit(2);
    }
    return octets;
}

} // namespace

int main(int argc, char** argv)
{
    behaviour::PublicArea area;
    long count = -1;
    long skip = 0;
    long flip = -1;
    double seconds = 30;
    bool distinct = false;
    bool answerAll = false;
    long foreign = 0;
    std::map<std::vector<std::uint8_t>, std::uint32_t> cardNumbers;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--address") {
            area.G_IpAddr = address(value);
        } else if (option == "--mask") {
            area.G_SbMask = address(value);
        } else if (option == "--gateway") {
            area.G_GateWay = address(value);
        } else if (option == "--server") {
            area.G_LocalIp = address(value);
        } else if (option == "--count") {
            count = std::strtol(value, nullptr, 10);
        } else if (option == "--skip") {
            skip = std::strtol(value, nullptr, 10);
        } else if (option == "--flip") {
            flip = std::strtol(value, nullptr, 10);
        } else if (option == "--answer-all") {
            answerAll = std::strtol(value, nullptr, 10) != 0;
        } else if (option == "--distinct") {
            distinct = std::strtol(value, nullptr, 10) != 0;
        } else if (option == "--seconds") {
            seconds = std::strtod(value, nullptr);
        } else {
            std::fprintf(stderr, "cardsim_responder: unknown option %s\n", option.c_str());
            return 2;
        }
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        die("socket");
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0) {
        die("setsockopt");
    }
    // Room for a whole flood test's datagrams, so that a busy machine does not drop them.
    const int buffer = 8 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) < 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(bootp::kServerPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        die("bind 0.0.0.0:67");
    }
    std::printf("listening\n");
    std::fflush(stdout);

    long datagrams = 0;
    long cards = 0;
    long replies = 0;
    std::vector<std::uint8_t> message(65536);
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
    while (!g_stop && (count < 0 || replies < count)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 200))) <= 0) {
            continue;
        }
        char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec io{message.data(), message.size()};
        msghdr header{};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &header, 0);
        if (n < 0) {
            continue;
        }
        ++datagrams;
        int ifindex = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                ifindex = info.ipi_ifindex;
            }
        }
        const std::span<std::uint8_t> datagram(message.data(), static_cast<std::size_t>(n));
        if (datagram.size() < bootp::kMinMessage) {
            continue;
        }
        const bool card = behaviour::chkRequest(datagram);
        if (!card && !(answerAll && datagram[bootp::kOp] == bootp::kBootRequest)) {
            continue;
        }
        if (card) {
            ++cards;
            if (skip > 0) {
                --skip;
                continue;
            }
        }
        const behaviour::Octets first = area.G_IpAddr;
        if (!card) {
            datagram[bootp::kOp] = bootp::kBootReply;
        } else if (distinct) {
            const std::vector<std::uint8_t> chaddr(datagram.begin() + bootp::kChaddr,
                                                   datagram.begin() + bootp::kChaddr + 6);
            const std::uint32_t k =
                cardNumbers.emplace(chaddr, static_cast<std::uint32_t>(cardNumbers.size()))
                    .first->second;
            const std::uint32_t address =
                ((std::uint32_t{first[0]} << 24) | (first[1] << 16) | (first[2] << 8) | first[3]) +
                k;
            area.G_IpAddr = {
                static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
                static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
        }
        if (card) {
            behaviour::makeReply(datagram, area);
        }
        area.G_IpAddr = first;
        if (card && flip >= 0 && static_cast<std::size_t>(flip) < datagram.size()) {
            datagram[static_cast<std::size_t>(flip)] ^= 0xFF;
        }

        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(bootp::kClientPort);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        in_pktinfo out{};
        out.ipi_ifindex = ifindex;
        char outControl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec outIo{datagram.data(), datagram.size()};
        msghdr reply{};
        reply.msg_name = &to;
        reply.msg_namelen = sizeof to;
        reply.msg_iov = &outIo;
        reply.msg_iovlen = 1;
        reply.msg_control = outControl;
        reply.msg_controllen = sizeof outControl;
        cmsghdr* c = CMSG_FIRSTHDR(&reply);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof out);
        std::memcpy(CMSG_DATA(c), &out, sizeof out);
        if (::sendmsg(fd, &reply, 0) < 0) {
            if (card) {
                die("send reply");
            }
            continue; // a full queue under a flood; the count of foreign replies says so
        }
        replies += card;
        foreign += !card;
    }
    std::printf("datagrams=%ld cards=%ld replies=%ld foreign=%ld\n", datagrams, cards, replies,
                foreign);
    ::close(fd);
    return 0;
}
