#include "Network.h"

#include "Rtnetlink.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

namespace assign {

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

std::string interfaceName(unsigned index)
{
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(index, name) == nullptr) {
        return "interface " + std::to_string(index);
    }
    return name;
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

std::vector<LocalAddress> localAddresses()
{
    netlink::Result<std::vector<LocalAddress>> r = readLocalAddresses();
    if (!r) {
        throw std::system_error(r.error(), std::generic_category(),
                                "the addresses of this PC cannot be read");
    }
    return std::move(r.value());
}

Ip serverAddress(const std::vector<LocalAddress>& local, unsigned index, Ip card, Ip mask)
{
    Ip first = 0;
    for (const LocalAddress& a : local) {
        if (a.index != index) {
            continue;
        }
        if ((a.ip & mask) == (card & mask)) {
            return a.ip;
        }
        if (first == 0) {
            first = a.ip;
        }
    }
    return first;
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

std::optional<Neighbour> neighbourEntry(unsigned index, Ip ip)
{
    const netlink::Result<std::optional<Neighbour>> n = readNeighbourEntry(index, ip);
    if (!n) {
        throw std::system_error(n.error(), std::generic_category(),
                                "the neighbour table cannot be read");
    }
    return *n;
}

bool heldByOther(const Neighbour& n, const Mac& mac)
{
    constexpr std::uint16_t live =
        NUD_REACHABLE | NUD_PERMANENT | NUD_NOARP | NUD_STALE | NUD_DELAY | NUD_PROBE;
    return (n.state & live) != 0 && n.mac && *n.mac != Mac{} && *n.mac != mac;
}

bool settled(const Neighbour& n)
{
    return (n.state & (NUD_REACHABLE | NUD_PERMANENT | NUD_NOARP)) != 0;
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
    ::close(fd);
    return sent;
}

} // namespace assign
