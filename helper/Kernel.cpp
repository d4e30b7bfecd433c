#include "Kernel.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper {

namespace {

/// A request: the header, one fixed part, room for a few attributes.
struct NetlinkRequest {
    nlmsghdr header;
    union {
        ndmsg neighbour;
        rtmsg route;
        ifaddrmsg address;
    };
    char attributes[64];
};

void addAttribute(NetlinkRequest& r, unsigned short type, const void* data, std::size_t size)
{
    auto* a =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&r) + NLMSG_ALIGN(r.header.nlmsg_len));
    a->rta_type = type;
    a->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(a), data, size);
    r.header.nlmsg_len =
        static_cast<std::uint32_t>(NLMSG_ALIGN(r.header.nlmsg_len) + RTA_ALIGN(a->rta_len));
}

/// Calls each(type, data, size) for the attributes of a message whose fixed part is `fixed`.
/// False when the message is too short for its fixed part.
bool attributes(const nlmsghdr& h, std::size_t fixed,
                const std::function<void(unsigned short, const void*, std::size_t)>& each)
{
    if (h.nlmsg_len < NLMSG_LENGTH(fixed)) {
        return false;
    }
    int left = static_cast<int>(h.nlmsg_len) - static_cast<int>(NLMSG_SPACE(fixed));
    const auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(NLMSG_DATA(&h)) +
                                                    NLMSG_ALIGN(fixed));
    for (; left > 0 && RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        each(a->rta_type, RTA_DATA(a), RTA_PAYLOAD(a));
    }
    return true;
}

NetlinkRequest dump(unsigned short type, std::size_t fixed)
{
    NetlinkRequest r{};
    r.header.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(fixed));
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    r.route.rtm_family = AF_INET; // the family is the first byte of every fixed part
    return r;
}

void gatewaysOf(const void* data, std::size_t size, std::vector<Ipv4>& out, bool multipath)
{
    if (!multipath) {
        if (size == 4) {
            Ipv4 ip;
            std::memcpy(ip.data(), data, 4);
            out.push_back(ip);
        }
        return;
    }
    // RTA_MULTIPATH: a list of next hops, each with attributes of its own.
    auto* hop = static_cast<const rtnexthop*>(data);
    int left = static_cast<int>(size);
    while (left >= static_cast<int>(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop) &&
           hop->rtnh_len <= left) {
        int attrLeft = hop->rtnh_len - static_cast<int>(RTNH_LENGTH(0));
        for (auto* a = RTNH_DATA(hop); attrLeft > 0 && RTA_OK(a, attrLeft);
             a = RTA_NEXT(a, attrLeft)) {
            if (a->rta_type == RTA_GATEWAY) {
                gatewaysOf(RTA_DATA(a), RTA_PAYLOAD(a), out, false);
            }
        }
        left -= RTNH_ALIGN(hop->rtnh_len);
        hop = RTNH_NEXT(hop);
    }
}

} // namespace

RouteLink::RouteLink()
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    m_openError = m_fd < 0 ? errno : 0;
}

RouteLink::~RouteLink()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int RouteLink::talk(nlmsghdr& request, const std::function<void(const nlmsghdr&)>& each)
{
    // A dump that the kernel marks as interrupted (the table changed meanwhile) is asked
    // again; what it delivered is dropped.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int err = talkOnce(request, each);
        if (err != EAGAIN || (request.nlmsg_flags & NLM_F_DUMP) != NLM_F_DUMP) {
            return err;
        }
    }
    return EAGAIN;
}

int RouteLink::talkOnce(nlmsghdr& request, const std::function<void(const nlmsghdr&)>& each)
{
    if (m_fd < 0) {
        return m_openError != 0 ? m_openError : EBADF;
    }
    const bool isDump = (request.nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP;
    request.nlmsg_seq = ++m_seq;
    request.nlmsg_pid = 0;
    if (!isDump) {
        request.nlmsg_flags |= NLM_F_ACK; // every answer then ends with NLMSG_ERROR
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd, &request, request.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return errno;
    }
    alignas(nlmsghdr) static char buffer[65536];
    bool interrupted = false;
    for (;;) {
        sockaddr_nl from{};
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(m_fd, &msg, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if ((msg.msg_flags & MSG_TRUNC) != 0) {
            return EMSGSIZE;
        }
        if (from.nl_pid != 0) {
            continue; // not from the kernel
        }
        int left = static_cast<int>(n);
        auto* h = reinterpret_cast<nlmsghdr*>(buffer);
        for (; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != m_seq) {
                continue; // the rest of an earlier, abandoned answer
            }
            if ((h->nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
                interrupted = true;
            }
            if (h->nlmsg_type == NLMSG_DONE) {
                int status = 0;
                if (h->nlmsg_len >= NLMSG_LENGTH(sizeof status)) {
                    std::memcpy(&status, NLMSG_DATA(h), sizeof status);
                }
                return status < 0 ? -status : interrupted ? EAGAIN : 0;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    return EPROTO;
                }
                const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                return error != 0 ? error : interrupted ? EAGAIN : 0;
            }
            each(*h);
        }
        if (left != 0) {
            return EPROTO; // a message cut short
        }
    }
}

int RouteLink::hostFacts(HostFacts& facts)
{
    facts = {};
    bool malformed = false;
    NetlinkRequest addresses = dump(RTM_GETADDR, sizeof(ifaddrmsg));
    int err = talk(addresses.header, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWADDR) {
            return;
        }
        const auto* a = static_cast<const ifaddrmsg*>(NLMSG_DATA(&h));
        std::optional<Ipv4> local;
        std::optional<Ipv4> peer;
        if (!attributes(h, sizeof(ifaddrmsg),
                        [&](unsigned short type, const void* data, std::size_t size) {
                            if (size == 4 && (type == IFA_LOCAL || type == IFA_ADDRESS)) {
                                Ipv4 ip;
                                std::memcpy(ip.data(), data, 4);
                                (type == IFA_LOCAL ? local : peer) = ip;
                            }
                        })) {
            malformed = true;
            return;
        }
        if (a->ifa_family != AF_INET || a->ifa_prefixlen > 32) {
            return;
        }
        // IFA_LOCAL is the address itself; IFA_ADDRESS is the peer on point-to-point links.
        const int ifindex = static_cast<int>(a->ifa_index);
        if (local) {
            facts.addresses.push_back({*local, a->ifa_prefixlen, ifindex});
        }
        if (peer && peer != local) {
            facts.addresses.push_back({*peer, a->ifa_prefixlen, ifindex});
        }
    });
    if (err == 0 && malformed) {
        err = EPROTO;
    }
    if (err != 0) {
        facts = {};
        return err;
    }
    NetlinkRequest routes = dump(RTM_GETROUTE, sizeof(rtmsg));
    err = talk(routes.header, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWROUTE) {
            return;
        }
        malformed |= !attributes(
            h, sizeof(rtmsg), [&](unsigned short type, const void* data, std::size_t size) {
                if (type == RTA_GATEWAY || type == RTA_MULTIPATH) {
                    gatewaysOf(data, size, facts.gateways, type == RTA_MULTIPATH);
                }
            });
    });
    if (err == 0 && malformed) {
        err = EPROTO;
    }
    if (err != 0) {
        facts = {};
    }
    return err;
}

int RouteLink::neighbour(int ifindex, const Ipv4& ip, NeighbourEntry& out)
{
    out = {};
    NetlinkRequest r{};
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    r.header.nlmsg_type = RTM_GETNEIGH;
    r.header.nlmsg_flags = NLM_F_REQUEST;
    r.neighbour.ndm_family = AF_INET;
    r.neighbour.ndm_ifindex = ifindex;
    addAttribute(r, NDA_DST, ip.data(), ip.size());
    bool malformed = false;
    const int err = talk(r.header, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWNEIGH) {
            return;
        }
        const auto* n = static_cast<const ndmsg*>(NLMSG_DATA(&h));
        bool match = false;
        std::optional<Mac> mac;
        if (!attributes(h, sizeof(ndmsg),
                        [&](unsigned short type, const void* data, std::size_t size) {
                            if (type == NDA_DST && size == 4) {
                                match = std::memcmp(data, ip.data(), 4) == 0;
                            } else if (type == NDA_LLADDR && size == 6) {
                                mac.emplace();
                                std::memcpy(mac->data(), data, 6);
                            }
                        })) {
            malformed = true;
            return;
        }
        if (!match || n->ndm_ifindex != ifindex) {
            return;
        }
        out.present = true;
        // An entry still resolving, or one that failed to, holds no MAC worth keeping.
        out.hasMac = mac && (n->ndm_state & (NUD_INCOMPLETE | NUD_FAILED)) == 0;
        out.mac = mac.value_or(Mac{});
        out.permanent = (n->ndm_state & NUD_PERMANENT) != 0;
    });
    if (err == ENOENT) {
        out = {};
        return 0;
    }
    if (err == 0 && malformed) {
        return EPROTO;
    }
    return err;
}

int RouteLink::addPermanent(int ifindex, const Ipv4& ip, const Mac& mac)
{
    // Neither NLM_F_REPLACE nor NLM_F_EXCL: the kernel then keeps a valid entry that holds
    // another MAC as it is (neigh_update without the override flag), makes an entry with the
    // same MAC permanent, and fills one that holds no MAC. That decision is taken under the
    // entry's lock, so no entry that appears meanwhile can be replaced. The kernel answers
    // success in every case; the entry read back afterwards tells which it was.
    NetlinkRequest r{};
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    r.header.nlmsg_type = RTM_NEWNEIGH;
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE;
    r.neighbour.ndm_family = AF_INET;
    r.neighbour.ndm_ifindex = ifindex;
    r.neighbour.ndm_state = NUD_PERMANENT;
    addAttribute(r, NDA_DST, ip.data(), ip.size());
    addAttribute(r, NDA_LLADDR, mac.data(), mac.size());
    if (const int err = talk(r.header, [](const nlmsghdr&) {}); err != 0) {
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
