// Opens the listener's sockets as torvane-helper does, gives up every capability and installs
// the listener's system-call filter, then tries to put an ARP reply on the wire through the
// packet socket, as a compromised listener would. For RootHelperNetns, as root in a test
// namespace:
//   listener_send_probe control DEV    the same send without the filter; prints "sent ok"
//   listener_send_probe sendto DEV     with the filter (also sendmsg, write): the kernel ends
//                                      the process with SIGSYS before anything is sent
#include "Listener.h"
#include "SystemCalls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace helper;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: listener_send_probe control|sendto|sendmsg|write DEV\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    const int ifindex = static_cast<int>(::if_nametoindex(argv[2]));
    int writer[2];
    if (ifindex <= 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, writer) != 0) {
        std::perror("set-up");
        return 2;
    }
    RouteLink route;
    const int udp = bindServerPort();
    const int packets = openCardPacketSocket();
    if (route.error() != 0 || udp < 0 || packets < 0 ||
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || !setCapabilities(0, 0)) {
        std::fprintf(stderr, "set-up: %s\n", std::strerror(errno));
        return 2;
    }
    if (mode != "control") {
        const int senders[] = {kLinkFd, writer[0], route.descriptor()};
        if (!installSystemCallFilter(systemCallFilter(listenerCalls(senders, udp)))) {
            std::perror("seccomp");
            return 2;
        }
    }
    // "10.77.0.254 is-at 02:00:00:00:00:66", to everyone on the link.
    const std::uint8_t arp[28] = {0,    1,    8,    0,    6,  4,  0, 2,   2,    0,
                                  0,    0,    0,    0x66, 10, 77, 0, 254, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 10, 77, 0, 254};
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = ifindex;
    to.sll_halen = ETH_ALEN;
    std::memset(to.sll_addr, 0xFF, ETH_ALEN);
    ssize_t n = -1;
    if (mode == "write") {
        n = ::write(packets, arp, sizeof arp);
    } else if (mode == "sendmsg") {
        iovec iov{const_cast<std::uint8_t*>(arp), sizeof arp};
        msghdr msg{};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        n = ::sendmsg(packets, &msg, 0);
    } else {
        n = ::sendto(packets, arp, sizeof arp, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::printf("sent %s\n", n == sizeof arp ? "ok" : std::strerror(errno));
    return 0;
}
