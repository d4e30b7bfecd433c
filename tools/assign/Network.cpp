#include "Network.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace assign {

InterfaceState interfaceState(const std::string& name)
{
    InterfaceState s;
    if (name.empty() || name.size() >= IFNAMSIZ) {
        return s;
    }
    s.index = ::if_nametoindex(name.c_str());
    if (s.index == 0) {
        return s;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        ifreq req{};
        std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
        if (::ioctl(fd, SIOCGIFFLAGS, &req) == 0) {
            s.up = (req.ifr_flags & IFF_UP) != 0;
        }
        ::close(fd);
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

std::vector<LocalAddress> localAddresses()
{
    std::vector<LocalAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return out;
    }
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        const auto* nm = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
        out.push_back({::if_nametoindex(a->ifa_name), ntohl(sin->sin_addr.s_addr),
                       nm ? ntohl(nm->sin_addr.s_addr) : 0xFFFFFFFFu});
    }
    ::freeifaddrs(list);
    return out;
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
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    std::optional<Neighbour> found;
    if (::send(fd, &request, sizeof request, 0) < 0) {
        ::close(fd);
        return std::nullopt;
    }
    const std::uint32_t want = htonl(ip);
    alignas(nlmsghdr) char buffer[16384];
    bool done = false;
    while (!done) {
        timeval tv{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        int len = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH) {
                continue;
            }
            const auto* nd = static_cast<const ndmsg*>(NLMSG_DATA(h));
            if (nd->ndm_family != AF_INET || static_cast<unsigned>(nd->ndm_ifindex) != index) {
                continue;
            }
            int attrLen = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *nd));
            bool match = false;
            std::optional<Mac> mac;
            for (auto* a = reinterpret_cast<rtattr*>(
                     reinterpret_cast<char*>(const_cast<ndmsg*>(nd)) + NLMSG_ALIGN(sizeof *nd));
                 RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
                if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                    match = std::memcmp(RTA_DATA(a), &want, 4) == 0;
                } else if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                    Mac m;
                    std::memcpy(m.data(), RTA_DATA(a), 6);
                    mac = m;
                }
            }
            if (match) {
                found = Neighbour{nd->ndm_state, mac};
            }
        }
    }
    ::close(fd);
    return found;
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
