#include "Network.h"

#include <system_error>

namespace assign {

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
        nud::Reachable | nud::Permanent | nud::NoArp | nud::Stale | nud::Delay | nud::Probe;
    return (n.state & live) != 0 && n.mac && *n.mac != Mac{} && *n.mac != mac;
}

bool settled(const Neighbour& n)
{
    return (n.state & (nud::Reachable | nud::Permanent | nud::NoArp)) != 0;
}

} // namespace assign
