#include "NetlinkWire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace netlink {

namespace {

// The errno of a negative status; a status that is no errno is a protocol error.
int errnoOf(int status)
{
    return status < 0 && status > INT_MIN ? -status : EPROTO;
}

// Walks the attributes from `offset` to `end` of the message: f(type, payload, size) gives 0
// or an errno. EBADMSG when an attribute runs past the end or leaves bytes that are no
// attribute. Offsets, not pointers: a length field is never trusted to stay in the message.
template <typename F>
int forEachAttribute(const std::uint8_t* base, std::size_t offset, std::size_t end, F&& f)
{
    while (offset < end) {
        nlattr a;
        if (end - offset < sizeof a) {
            return EBADMSG;
        }
        std::memcpy(&a, base + offset, sizeof a);
        if (a.nla_len < sizeof a || a.nla_len > end - offset) {
            return EBADMSG;
        }
        const auto type = static_cast<std::uint16_t>(a.nla_type & NLA_TYPE_MASK);
        if (const int error = f(type, base + offset + NLA_HDRLEN, a.nla_len - NLA_HDRLEN);
            error != 0) {
            return error;
        }
        offset += NLA_ALIGN(a.nla_len);
    }
    return 0;
}

// The attributes after the family header T of a message whose header fitted.
template <typename T, typename F> int forEachAttribute(const nlmsghdr* m, F&& f)
{
    return forEachAttribute(reinterpret_cast<const std::uint8_t*>(m), NLMSG_SPACE(sizeof(T)),
                            m->nlmsg_len, f);
}

int readU32(const std::uint8_t* data, std::size_t size, std::uint32_t& out)
{
    if (size != 4) {
        return EBADMSG;
    }
    std::memcpy(&out, data, 4);
    return 0;
}

// An IPv4 address attribute: exactly four bytes, network order.
int readIpv4(const std::uint8_t* data, std::size_t size, Ipv4& out)
{
    const int error = readU32(data, size, out);
    out = ntohl(out);
    return error;
}

int readString(const std::uint8_t* data, std::size_t size, std::string& out)
{
    if (size == 0 || data[size - 1] != 0) {
        return EBADMSG;
    }
    out = reinterpret_cast<const char*>(data);
    return 0;
}

// RTA_MULTIPATH: next hops, each an rtnexthop with attributes of its own; index is set to the
// first hop's interface.
int readNexthops(const std::uint8_t* data, std::size_t size, std::vector<Ipv4>& out,
                 unsigned& index)
{
    for (std::size_t at = 0; at < size;) {
        rtnexthop hop;
        if (size - at < sizeof hop) {
            return EBADMSG;
        }
        std::memcpy(&hop, data + at, sizeof hop);
        if (hop.rtnh_len < sizeof hop || hop.rtnh_len > size - at) {
            return EBADMSG;
        }
        if (at == 0) {
            index = static_cast<unsigned>(hop.rtnh_ifindex);
        }
        const int error = forEachAttribute(
            data, at + RTNH_LENGTH(0), at + hop.rtnh_len,
            [&](std::uint16_t type, const std::uint8_t* p, std::size_t n) {
                return type == RTA_GATEWAY ? readIpv4(p, n, out.emplace_back()) : 0;
            });
        if (error != 0) {
            return error;
        }
        at += RTNH_ALIGN(hop.rtnh_len);
    }
    return 0;
}

// The family header of a message of `type`: EPROTO for another kind, EBADMSG when it is short.
template <typename T> int familyHeader(const nlmsghdr* m, std::uint16_t type, T& out)
{
    if (m->nlmsg_type != type) {
        return EPROTO;
    }
    if (m->nlmsg_len < NLMSG_LENGTH(sizeof(T))) {
        return EBADMSG;
    }
    std::memcpy(&out, NLMSG_DATA(m), sizeof(T));
    return 0;
}

} // namespace

namespace wire {

int readDatagram(std::span<const std::uint8_t> datagram, std::uint32_t seq, std::uint32_t portid,
                 const MessageHandler& handler, Progress& progress)
{
    progress = Progress::More;
    // The whole datagram is checked before any message of it is taken: its messages must fill
    // it exactly and all answer this request.
    if (datagram.empty() || datagram.size() > kReceiveSize) {
        return EBADMSG;
    }
    for (std::size_t at = 0; at < datagram.size();) {
        const std::size_t left = datagram.size() - at;
        const auto* m = reinterpret_cast<const nlmsghdr*>(datagram.data() + at);
        if (left < sizeof(nlmsghdr) || m->nlmsg_len < sizeof(nlmsghdr) || m->nlmsg_len > left) {
            return EBADMSG;
        }
        if (m->nlmsg_seq != seq || m->nlmsg_pid != portid) {
            return EPROTO;
        }
        at += NLMSG_ALIGN(m->nlmsg_len);
    }
    for (std::size_t at = 0; at < datagram.size();) {
        const auto* m = reinterpret_cast<const nlmsghdr*>(datagram.data() + at);
        at += NLMSG_ALIGN(m->nlmsg_len);
        if ((m->nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
            return EINTR; // the table changed during the dump: what came so far is no snapshot
        }
        if (m->nlmsg_type >= NLMSG_MIN_TYPE) {
            if (const int error = handler(m); error != 0) {
                return error;
            }
            continue;
        }
        switch (m->nlmsg_type) {
        case NLMSG_ERROR: {
            nlmsgerr e;
            if (m->nlmsg_len < NLMSG_LENGTH(sizeof e)) {
                return EBADMSG;
            }
            std::memcpy(&e, NLMSG_DATA(m), sizeof e);
            if (e.error != 0) {
                progress = Progress::Ended;
                return errnoOf(e.error);
            }
            progress = Progress::Done; // the acknowledgement
            return 0;
        }
        case NLMSG_DONE: {
            // A dump that fails part-way ends with NLMSG_DONE carrying the negative errno.
            int status = 0;
            if (m->nlmsg_len >= NLMSG_LENGTH(sizeof status)) {
                std::memcpy(&status, NLMSG_DATA(m), sizeof status);
            }
            if (status < 0) {
                progress = Progress::Ended;
                return errnoOf(status);
            }
            progress = Progress::Done;
            return 0;
        }
        case NLMSG_OVERRUN:
            return ENOBUFS;
        default:
            break; // NLMSG_NOOP, and control types that carry nothing
        }
    }
    return 0;
}

int decode(const nlmsghdr* m, Address& out)
{
    ifaddrmsg ifa;
    if (const int error = familyHeader(m, RTM_NEWADDR, ifa); error != 0) {
        return error;
    }
    if (ifa.ifa_family != AF_INET) {
        return EPROTO;
    }
    if (ifa.ifa_prefixlen > 32) {
        return EBADMSG;
    }
    out = Address{};
    out.index = ifa.ifa_index;
    out.prefix = ifa.ifa_prefixlen;
    out.scope = ifa.ifa_scope;
    out.flags = ifa.ifa_flags;
    std::optional<Ipv4> local;
    std::optional<Ipv4> peer;
    const int error = forEachAttribute<ifaddrmsg>(
        m, [&](std::uint16_t type, const std::uint8_t* data, std::size_t size) {
            switch (type) {
            case IFA_LOCAL:
                return readIpv4(data, size, local.emplace());
            case IFA_ADDRESS:
                return readIpv4(data, size, peer.emplace());
            case IFA_LABEL:
                return readString(data, size, out.label);
            case IFA_FLAGS:
                return readU32(data, size, out.flags);
            default:
                return 0;
            }
        });
    if (error != 0) {
        return error;
    }
    // IFA_LOCAL is the interface's own address; on a point-to-point link IFA_ADDRESS is the
    // peer's, elsewhere both are the same and IFA_LOCAL may be left out.
    if (!local && !peer) {
        return EBADMSG;
    }
    out.ip = local ? *local : *peer;
    out.peer = peer ? *peer : out.ip;
    return 0;
}

int decode(const nlmsghdr* m, Neighbour& out)
{
    ndmsg nd;
    if (const int error = familyHeader(m, RTM_NEWNEIGH, nd); error != 0) {
        return error;
    }
    if (nd.ndm_family != AF_INET) {
        return EPROTO;
    }
    out = Neighbour{};
    out.index = static_cast<unsigned>(nd.ndm_ifindex);
    out.state = nd.ndm_state;
    out.flags = nd.ndm_flags;
    bool haveDestination = false;
    const int error = forEachAttribute<ndmsg>(
        m, [&](std::uint16_t type, const std::uint8_t* data, std::size_t size) {
            if (type == NDA_DST) {
                haveDestination = true;
                return readIpv4(data, size, out.ip);
            }
            // Ethernet's six bytes; other link layers (tunnels) have no MAC to compare.
            if (type == NDA_LLADDR && size == 6) {
                std::memcpy(out.mac.emplace().data(), data, 6);
            }
            return 0;
        });
    if (error != 0) {
        return error;
    }
    return haveDestination ? 0 : EBADMSG;
}

int decode(const nlmsghdr* m, Route& out)
{
    rtmsg rt;
    if (const int error = familyHeader(m, RTM_NEWROUTE, rt); error != 0) {
        return error;
    }
    if (rt.rtm_family != AF_INET) {
        return EPROTO;
    }
    if (rt.rtm_dst_len > 32) {
        return EBADMSG;
    }
    out = Route{};
    out.prefix = rt.rtm_dst_len;
    out.type = rt.rtm_type;
    out.table = rt.rtm_table;
    std::optional<std::uint32_t> oif;
    unsigned firstHop = 0;
    const int error = forEachAttribute<rtmsg>(
        m, [&](std::uint16_t type, const std::uint8_t* data, std::size_t size) {
            switch (type) {
            case RTA_DST:
                return readIpv4(data, size, out.destination);
            case RTA_GATEWAY:
                return readIpv4(data, size, out.gateway);
            case RTA_MULTIPATH:
                return readNexthops(data, size, out.nexthops, firstHop);
            case RTA_NH_ID:
                return readU32(data, size, out.nexthopId);
            case RTA_OIF:
                return readU32(data, size, oif.emplace());
            case RTA_PRIORITY:
                return readU32(data, size, out.priority);
            case RTA_TABLE:
                return readU32(data, size, out.table);
            default:
                return 0;
            }
        });
    out.index = oif ? *oif : firstHop;
    return error;
}

int decode(const nlmsghdr* m, Nexthop& out)
{
    nhmsg nh;
    if (const int error = familyHeader(m, RTM_NEWNEXTHOP, nh); error != 0) {
        return error;
    }
    out = Nexthop{};
    bool haveId = false;
    const int error = forEachAttribute<nhmsg>(
        m, [&](std::uint16_t type, const std::uint8_t* data, std::size_t size) {
            switch (type) {
            case NHA_ID:
                haveId = true;
                return readU32(data, size, out.id);
            case NHA_OIF:
                return readU32(data, size, out.index);
            case NHA_GATEWAY:
                if (nh.nh_family == AF_INET) {
                    return readIpv4(data, size, out.gateway);
                }
                return nh.nh_family == AF_INET6 && size == 16 ? 0 : EBADMSG;
            case NHA_GROUP:
                if (size % sizeof(nexthop_grp) != 0) {
                    return EBADMSG;
                }
                for (std::size_t at = 0; at < size; at += sizeof(nexthop_grp)) {
                    nexthop_grp member;
                    std::memcpy(&member, data + at, sizeof member);
                    out.group.push_back(member.id);
                }
                return 0;
            default:
                return 0;
            }
        });
    if (error != 0) {
        return error;
    }
    return haveId && out.id != 0 ? 0 : EBADMSG;
}

int decode(const nlmsghdr* m, Link& out)
{
    ifinfomsg ifi;
    if (const int error = familyHeader(m, RTM_NEWLINK, ifi); error != 0) {
        return error;
    }
    out = Link{};
    out.index = static_cast<unsigned>(ifi.ifi_index);
    out.flags = ifi.ifi_flags;
    bool named = false;
    const int error = forEachAttribute<ifinfomsg>(
        m, [&](std::uint16_t type, const std::uint8_t* data, std::size_t size) {
            if (type != IFLA_IFNAME) {
                return 0;
            }
            named = true;
            return readString(data, size, out.name);
        });
    if (error != 0) {
        return error;
    }
    return named ? 0 : EBADMSG;
}

Query::Query(std::uint16_t type, std::uint16_t flags)
{
    nlmsghdr& h = message();
    h.nlmsg_len = NLMSG_HDRLEN;
    h.nlmsg_type = type;
    h.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
}

void* Query::reserve(std::size_t size)
{
    nlmsghdr& h = message();
    void* at = m_buffer.data() + h.nlmsg_len;
    h.nlmsg_len += static_cast<std::uint32_t>(NLMSG_ALIGN(size));
    return at;
}

void Query::put(std::uint16_t type, const void* data, std::size_t size)
{
    // The queries put a few small attributes; the buffer has room for them.
    const nlattr a{static_cast<std::uint16_t>(NLA_HDRLEN + size), type};
    auto* at = static_cast<std::uint8_t*>(reserve(NLA_HDRLEN + size));
    std::memcpy(at, &a, sizeof a);
    std::memcpy(at + NLA_HDRLEN, data, size);
}

Socket::Socket() : m_buffer(kReceiveSize)
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    // Lets the kernel filter a dump by interface; an older kernel ignores the option, and the
    // callers filter as well.
    const int on = 1;
    ::setsockopt(m_fd, SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
    const timeval timeout{kTimeoutSeconds, 0};
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    socklen_t size = sizeof self;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&self), &size) != 0) {
        m_error = errno;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = self.nl_pid;
}

Socket::Socket(std::uint32_t port) : m_port(port), m_buffer(kReceiveSize) {}

Socket::~Socket()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int Socket::send(const nlmsghdr& request)
{
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(m_fd, &request, request.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel) < 0
               ? errno
               : 0;
}

int Socket::receive(std::span<std::uint8_t> buffer, bool wait, std::size_t& size,
                    std::uint32_t& sender)
{
    for (;;) {
        sockaddr_nl from{};
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(m_fd, &message, wait ? 0 : MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno != EAGAIN && errno != EWOULDBLOCK ? errno : wait ? ETIMEDOUT : EAGAIN;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            return EMSGSIZE;
        }
        // A sender without a netlink address counts as a port that is not the kernel's.
        const bool netlink = message.msg_namelen == sizeof from && from.nl_family == AF_NETLINK;
        sender = netlink ? from.nl_pid : ~0u;
        size = static_cast<std::size_t>(n);
        return 0;
    }
}

int Socket::exchange(nlmsghdr& request, const MessageHandler& handler)
{
    return run(request, handler, false);
}

int Socket::get(nlmsghdr& request, const MessageHandler& handler)
{
    return run(request, handler, true);
}

int Socket::run(nlmsghdr& request, const MessageHandler& handler, bool single)
{
    if (m_error != 0) {
        return m_error;
    }
    std::size_t size = 0;
    std::uint32_t sender = 0;
    // What is left of an answer given up earlier (refused, or late) is read off first, so that
    // every datagram after the request belongs to its answer. After a whole answer nothing is.
    if (m_unread) {
        for (int e = 0; e == 0 || e == EMSGSIZE || e == ENOBUFS;) {
            e = receive(m_buffer, false, size, sender);
        }
    }
    m_unread = true;
    request.nlmsg_seq = ++m_seq;
    request.nlmsg_pid = 0;
    if (single) {
        request.nlmsg_flags &= ~NLM_F_ACK; // the entry alone, or the error
    } else if ((request.nlmsg_flags & NLM_F_DUMP) != NLM_F_DUMP) {
        request.nlmsg_flags |= NLM_F_ACK; // the answer then ends with NLMSG_ERROR
    }
    if (const int error = send(request); error != 0) {
        return error;
    }
    for (;;) {
        if (const int error = receive(m_buffer, true, size, sender); error != 0) {
            return error;
        }
        // Only the kernel (port 0) answers; anything else is no part of this answer.
        if (sender != 0) {
            return EPROTO;
        }
        Progress progress;
        int messages = 0;
        const int error = readDatagram(
            std::span(m_buffer.data(), size), request.nlmsg_seq, m_port,
            [&](const nlmsghdr* m) { return ++messages, handler(m); }, progress);
        if (progress != Progress::More || (single && error == 0 && messages > 0)) {
            m_unread = false;
        }
        if (error != 0) {
            return error;
        }
        if (!m_unread) {
            return 0;
        }
    }
}

int routes(Socket& socket, std::vector<Route>& out)
{
    Query routeDump(RTM_GETROUTE, NLM_F_DUMP);
    routeDump.header<rtmsg>().rtm_family = AF_INET;
    if (const int error = socket.dump(routeDump.message(), out); error != 0) {
        return error;
    }
    if (std::none_of(out.begin(), out.end(), [](const Route& r) { return r.nexthopId != 0; })) {
        return 0;
    }
    // With nexthop_compat_mode off the kernel names the object and leaves out its gateway.
    // Groups are AF_UNSPEC and a hop may be IPv6, so the whole table is read.
    Query nexthopDump(RTM_GETNEXTHOP, NLM_F_DUMP);
    nexthopDump.header<nhmsg>().nh_family = AF_UNSPEC;
    std::vector<Nexthop> table;
    if (const int error = socket.dump(nexthopDump.message(), table); error != 0) {
        out.clear();
        return error;
    }
    const auto find = [&table](std::uint32_t id) -> const Nexthop* {
        const auto it = std::find_if(table.begin(), table.end(),
                                     [id](const Nexthop& n) { return n.id == id; });
        return it == table.end() ? nullptr : &*it;
    };
    for (Route& r : out) {
        if (r.nexthopId == 0) {
            continue;
        }
        const Nexthop* nh = find(r.nexthopId);
        if (nh == nullptr) {
            out.clear();
            return EPROTO; // a route whose gateway cannot be told
        }
        if (nh->group.empty()) {
            r.gateway = r.gateway != 0 ? r.gateway : nh->gateway;
            r.index = r.index != 0 ? r.index : nh->index;
            continue;
        }
        std::vector<Ipv4> hops;
        unsigned firstIndex = 0;
        for (const std::uint32_t id : nh->group) {
            const Nexthop* member = find(id);
            if (member == nullptr) {
                out.clear();
                return EPROTO;
            }
            firstIndex = firstIndex != 0 ? firstIndex : member->index;
            if (member->gateway != 0) {
                hops.push_back(member->gateway);
            }
        }
        // With compat mode on the kernel wrote RTA_MULTIPATH itself: the same gateways.
        if (r.nexthops.empty()) {
            r.nexthops = std::move(hops);
        }
        r.index = r.index != 0 ? r.index : firstIndex;
    }
    return 0;
}

int neighbour(Socket& socket, unsigned index, Ipv4 ip, std::optional<Neighbour>& out)
{
    out.reset();
    if (index == 0) {
        return EINVAL;
    }
    Query q(RTM_GETNEIGH, 0);
    auto& nd = q.header<ndmsg>();
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = static_cast<int>(index);
    const std::uint32_t wire = htonl(ip);
    q.put(NDA_DST, &wire, sizeof wire);
    const int error = socket.get(q.message(), [&](const nlmsghdr* m) {
        Neighbour n;
        if (const int e = decode(m, n); e != 0) {
            return e;
        }
        if (n.index != index || n.ip != ip || out) {
            return EPROTO;
        }
        out = n;
        return 0;
    });
    if (error == ENOENT) {
        out.reset();
        return 0;
    }
    if (error == 0 && !out) {
        return EPROTO;
    }
    if (error != 0) {
        out.reset();
    }
    return error;
}

} // namespace wire

} // namespace netlink
