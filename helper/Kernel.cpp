#include "Kernel.h"

#include <algorithm>
#include <cerrno>
#include <linux/capability.h>
#include <linux/netlink.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper {

RouteLink::Watch::~Watch()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

int RouteLink::watchHost()
{
    // Opened before the system-call filter, like the query socket. Only ever drained, never
    // parsed: whatever arrives, from whoever, only means "read the kernel again".
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return errno;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    // Links too: a link that goes down takes its routes without the kernel announcing each.
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    const int nexthops = RTNLGRP_NEXTHOP;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &nexthops, sizeof nexthops) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    m_watch.fd = fd;
    m_facts.reset();
    return 0;
}

bool RouteLink::hostUnchanged()
{
    bool unchanged = true;
    for (;;) {
        char buffer[8192];
        const ssize_t n = ::recv(m_watch.fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0 || errno == ENOBUFS) {
            unchanged = false; // an announcement, or so many that some were lost
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return unchanged;
        }
        // A watch that fails is given up: every call reads the kernel from now on.
        ::close(m_watch.fd);
        m_watch.fd = -1;
        return false;
    }
}

int RouteLink::hostFacts(HostFacts& facts)
{
    if (m_watch.fd < 0) {
        return readHostFacts(facts);
    }
    // Announcements queued before the reading below are covered by it; one that comes during
    // or after it makes the next call read again.
    if (hostUnchanged() && m_facts) {
        facts = *m_facts;
        return 0;
    }
    m_facts.reset();
    if (const int err = readHostFacts(facts); err != 0) {
        return err;
    }
    if (m_watch.fd >= 0) {
        m_facts = facts;
    }
    return 0;
}

int RouteLink::readHostFacts(HostFacts& facts)
{
    facts = {};
    netlink::wire::Query addressDump(RTM_GETADDR, NLM_F_DUMP);
    addressDump.header<ifaddrmsg>().ifa_family = AF_INET;
    std::vector<netlink::Address> addresses;
    std::vector<netlink::Route> routes;
    if (const int err = m_socket->dump(addressDump.message(), addresses); err != 0) {
        return err;
    }
    if (const int err = netlink::wire::routes(*m_socket, routes); err != 0) {
        return err;
    }
    for (const netlink::Address& a : addresses) {
        // On a point-to-point link the peer's address is as much this PC's business.
        const int ifindex = static_cast<int>(a.index);
        facts.addresses.push_back({bootp::fromValue(a.ip), a.prefix, ifindex});
        if (a.peer != a.ip) {
            facts.addresses.push_back({bootp::fromValue(a.peer), a.prefix, ifindex});
        }
    }
    // Every table's routes: a gateway of any of them is no address for a card.
    for (const netlink::Route& r : routes) {
        if (r.gateway != 0) {
            facts.gateways.push_back(bootp::fromValue(r.gateway));
        }
        for (const netlink::Ipv4 hop : r.nexthops) {
            facts.gateways.push_back(bootp::fromValue(hop));
        }
    }
    return 0;
}

int RouteLink::neighbour(int ifindex, const Ipv4& ip, NeighbourEntry& out)
{
    out = {};
    std::optional<netlink::Neighbour> n;
    if (const int err = netlink::wire::neighbour(*m_socket, static_cast<unsigned>(ifindex),
                                                 bootp::toValue(ip), n);
        err != 0 || !n) {
        return err;
    }
    out.present = true;
    // An entry still resolving, or one that failed to, holds no MAC worth keeping.
    out.hasMac = n->mac && (n->state & (NUD_INCOMPLETE | NUD_FAILED)) == 0;
    out.mac = n->mac.value_or(Mac{});
    out.permanent = (n->state & NUD_PERMANENT) != 0;
    return 0;
}

int RouteLink::addPermanent(int ifindex, const Ipv4& ip, const Mac& mac)
{
    // Neither NLM_F_REPLACE nor NLM_F_EXCL: the kernel then keeps a valid entry that holds
    // another MAC as it is (neigh_update without the override flag), makes an entry with the
    // same MAC permanent, and fills one that holds no MAC. That decision is taken under the
    // entry's lock, so no entry that appears meanwhile can be replaced. The kernel answers
    // success in every case; the entry read back afterwards tells which it was.
    netlink::wire::Query r(RTM_NEWNEIGH, NLM_F_CREATE);
    auto& nd = r.header<ndmsg>();
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = ifindex;
    nd.ndm_state = NUD_PERMANENT;
    r.put(NDA_DST, ip.data(), ip.size());
    r.put(NDA_LLADDR, mac.data(), mac.size());
    // The answer is the acknowledgement alone.
    if (const int err = m_socket->exchange(r.message(), [](const nlmsghdr*) { return EPROTO; });
        err != 0) {
        return err;
    }
    NeighbourEntry now;
    if (const int err = neighbour(ifindex, ip, now); err != 0) {
        return err;
    }
    if (!now.present || !now.hasMac || now.mac != mac) {
        return EEXIST; // another MAC holds the address
    }
    return now.permanent ? 0 : EEXIST;
}

int RouteLink::acknowledged(netlink::wire::Query& request)
{
    // The answer is the acknowledgement alone.
    return m_socket->exchange(request.message(), [](const nlmsghdr*) { return EPROTO; });
}

int RouteLink::addTemporaryAddress(int ifindex, const Ipv4& ip, std::uint32_t lifetime, bool renew)
{
    // A renewal replaces the lifetimes of the address in place; a first addition refuses one
    // that is there already, which the caller's checks have ruled out.
    netlink::wire::Query r(RTM_NEWADDR, renew ? NLM_F_REPLACE : (NLM_F_CREATE | NLM_F_EXCL));
    auto& a = r.header<ifaddrmsg>();
    a.ifa_family = AF_INET;
    a.ifa_prefixlen = 32;
    a.ifa_scope = RT_SCOPE_UNIVERSE;
    a.ifa_index = static_cast<unsigned>(ifindex);
    r.put(IFA_LOCAL, ip.data(), ip.size());
    r.put(IFA_ADDRESS, ip.data(), ip.size());
    // With a finite lifetime the kernel itself removes the address once nobody renews it.
    const ifa_cacheinfo life{lifetime, lifetime, 0, 0};
    r.put(IFA_CACHEINFO, &life, sizeof life);
    return acknowledged(r);
}

int RouteLink::hasAddress(int ifindex, const Ipv4& ip, bool& out)
{
    out = false;
    netlink::wire::Query dump(RTM_GETADDR, NLM_F_DUMP);
    dump.header<ifaddrmsg>().ifa_family = AF_INET;
    std::vector<netlink::Address> addresses;
    if (const int err = m_socket->dump(dump.message(), addresses); err != 0) {
        return err;
    }
    out = std::any_of(addresses.begin(), addresses.end(), [&](const netlink::Address& a) {
        return static_cast<int>(a.index) == ifindex && a.ip == bootp::toValue(ip) && a.prefix == 32;
    });
    return 0;
}

int RouteLink::deleteAddress(int ifindex, const Ipv4& ip)
{
    netlink::wire::Query r(RTM_DELADDR, 0);
    auto& a = r.header<ifaddrmsg>();
    a.ifa_family = AF_INET;
    a.ifa_prefixlen = 32;
    a.ifa_index = static_cast<unsigned>(ifindex);
    r.put(IFA_LOCAL, ip.data(), ip.size());
    r.put(IFA_ADDRESS, ip.data(), ip.size());
    return acknowledged(r);
}

namespace {

void hostRoute(netlink::wire::Query& r, int ifindex, const Ipv4& card, const Ipv4& source)
{
    auto& rt = r.header<rtmsg>();
    rt.rtm_family = AF_INET;
    rt.rtm_dst_len = 32;
    rt.rtm_table = RT_TABLE_MAIN;
    rt.rtm_protocol = RTPROT_STATIC;
    rt.rtm_scope = RT_SCOPE_LINK;
    rt.rtm_type = RTN_UNICAST;
    const auto index = static_cast<std::uint32_t>(ifindex);
    r.put(RTA_DST, card.data(), card.size());
    r.put(RTA_PREFSRC, source.data(), source.size());
    r.put(RTA_OIF, &index, sizeof index);
}

} // namespace

int RouteLink::addHostRoute(int ifindex, const Ipv4& card, const Ipv4& source)
{
    // Only the card's own address: a route another NIC has to the card's subnet keeps every
    // other address of it.
    netlink::wire::Query r(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL);
    hostRoute(r, ifindex, card, source);
    return acknowledged(r);
}

int RouteLink::deleteHostRoute(int ifindex, const Ipv4& card, const Ipv4& source)
{
    netlink::wire::Query r(RTM_DELROUTE, 0);
    hostRoute(r, ifindex, card, source);
    return acknowledged(r);
}

bool setCapabilities(std::uint64_t permitted, std::uint64_t effective)
{
    // Capabilities can only be given up: what the process lacks stays out of both sets.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const std::uint64_t held = data[0].permitted | std::uint64_t(data[1].permitted) << 32;
    permitted &= held;
    effective &= permitted;
    data[0].permitted = static_cast<std::uint32_t>(permitted);
    data[1].permitted = static_cast<std::uint32_t>(permitted >> 32);
    data[0].effective = static_cast<std::uint32_t>(effective);
    data[1].effective = static_cast<std::uint32_t>(effective >> 32);
    data[0].inheritable = data[1].inheritable = 0;
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool installSystemCallFilter(std::span<const sock_filter> program)
{
    sock_fprog fprog{static_cast<unsigned short>(program.size()),
                     const_cast<sock_filter*>(program.data())};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) == 0;
}

} // namespace helper
