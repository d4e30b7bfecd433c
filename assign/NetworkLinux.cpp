#include "Network.h"

#include "Rtnetlink.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace assign {

static_assert(nud::Incomplete == NUD_INCOMPLETE && nud::Reachable == NUD_REACHABLE &&
              nud::Stale == NUD_STALE && nud::Delay == NUD_DELAY && nud::Probe == NUD_PROBE &&
              nud::Failed == NUD_FAILED && nud::NoArp == NUD_NOARP &&
              nud::Permanent == NUD_PERMANENT);

InterfaceState interfaceState(const std::string& name)
{
    InterfaceState s;
    if (name.empty() || name.size() >= IFNAMSIZ) {
        return s;
    }
    const netlink::Result<std::vector<netlink::Link>> links = netlink::links();
    if (!links) {
        s.error = links.error();
        return s;
    }
    for (const netlink::Link& l : *links) {
        if (l.name == name) {
            s.index = l.index;
            s.up = (l.flags & IFF_UP) != 0;
        }
    }
    return s;
}

netlink::Result<std::vector<LocalAddress>> readLocalAddresses()
{
    const netlink::Result<std::vector<netlink::Address>> all = netlink::addresses();
    if (!all) {
        return netlink::Failure{all.error()};
    }
    std::vector<LocalAddress> out;
    for (const netlink::Address& a : *all) {
        out.push_back({a.index, a.ip, a.mask()});
    }
    return out;
}

netlink::Result<std::optional<Neighbour>> readNeighbourEntry(unsigned index, Ip ip)
{
    const netlink::Result<std::optional<netlink::Neighbour>> n = netlink::neighbour(index, ip);
    if (!n) {
        return netlink::Failure{n.error()};
    }
    if (!*n) {
        return std::optional<Neighbour>();
    }
    return std::optional<Neighbour>(Neighbour{(*n)->state, (*n)->mac});
}

bool nudge(unsigned index, Ip ip)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const int ifindex = static_cast<int>(index);
    // Tied to the arrival interface, the kernel resolves the address on that link even
    // without a route to it (unprivileged since Linux 5.7; elsewhere routing picks).
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTOIFINDEX, &ifindex, sizeof ifindex);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(ip);
    const bool sent =
        ::sendto(fd, "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    const int error = errno;
    ::close(fd);
    errno = error; // the caller says why the datagram was not sent
    return sent;
}

std::string errorText(int error)
{
    return std::strerror(error);
}

} // namespace assign
