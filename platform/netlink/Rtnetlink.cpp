#include "Rtnetlink.h"

#include <libmnl/libmnl.h>

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>

namespace netlink {

namespace {

// A dump datagram of the kernel holds at most 32 KiB; a larger message would come truncated,
// which recvmsg reports (MSG_TRUNC) and the query refuses.
constexpr std::size_t kReceiveSize = 32768;
constexpr int kTimeoutSeconds = 2;

std::uint32_t nextSequence()
{
    static std::atomic<std::uint32_t> sequence{static_cast<std::uint32_t>(std::time(nullptr))};
    return ++sequence;
}

// Walks the attributes after a family header of `size` bytes: f(attribute) gives 0 or an errno.
// EBADMSG when the header does not fit, or an attribute runs past the message or leaves bytes
// that are no attribute.
template <typename F> int forEachAttribute(const nlmsghdr* m, std::size_t size, F&& f)
{
    if (m->nlmsg_len < mnl_nlmsg_size(size)) {
        return EBADMSG;
    }
    const char* end = reinterpret_cast<const char*>(m) + m->nlmsg_len;
    auto* a = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(m, size));
    while (mnl_attr_ok(a, static_cast<int>(end - reinterpret_cast<const char*>(a)))) {
        if (const int error = f(a); error != 0) {
            return error;
        }
        a = mnl_attr_next(a);
    }
    return reinterpret_cast<const char*>(a) >= end ? 0 : EBADMSG;
}

// An IPv4 address attribute: exactly four bytes, network order.
int readIpv4(const nlattr* a, Ipv4& out)
{
    if (mnl_attr_get_payload_len(a) != 4) {
        return EBADMSG;
    }
    std::uint32_t wire = 0;
    std::memcpy(&wire, mnl_attr_get_payload(a), 4);
    out = ntohl(wire);
    return 0;
}

int readU32(const nlattr* a, std::uint32_t& out)
{
    if (mnl_attr_validate(a, MNL_TYPE_U32) < 0) {
        return EBADMSG;
    }
    out = mnl_attr_get_u32(a);
    return 0;
}

int readString(const nlattr* a, std::string& out)
{
    if (mnl_attr_validate(a, MNL_TYPE_NUL_STRING) < 0) {
        return EBADMSG;
    }
    out = mnl_attr_get_str(a);
    return 0;
}

// The state of one exchange while libmnl hands it the messages of a datagram.
struct Dispatch {
    const wire::MessageHandler* handler;
    int error = 0;
    bool done = false;
};

int onData(const nlmsghdr* m, void* data)
{
    auto* d = static_cast<Dispatch*>(data);
    d->error = (*d->handler)(m);
    return d->error == 0 ? MNL_CB_OK : MNL_CB_ERROR;
}

int onNoop(const nlmsghdr*, void*)
{
    return MNL_CB_OK;
}

int onError(const nlmsghdr* m, void* data)
{
    auto* d = static_cast<Dispatch*>(data);
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr))) {
        d->error = EBADMSG;
        return MNL_CB_ERROR;
    }
    const auto* e = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(m));
    if (e->error == 0) { // the acknowledgement
        d->done = true;
        return MNL_CB_STOP;
    }
    d->error = e->error < 0 ? -e->error : EPROTO;
    return MNL_CB_ERROR;
}

int onDone(const nlmsghdr* m, void* data)
{
    // A dump that fails part-way ends with NLMSG_DONE carrying the negative errno.
    auto* d = static_cast<Dispatch*>(data);
    if (m->nlmsg_len >= mnl_nlmsg_size(sizeof(int))) {
        int status = 0;
        std::memcpy(&status, mnl_nlmsg_get_payload(m), sizeof status);
        if (status < 0) {
            d->error = -status;
            return MNL_CB_ERROR;
        }
    }
    d->done = true;
    return MNL_CB_STOP;
}

int onOverrun(const nlmsghdr*, void* data)
{
    static_cast<Dispatch*>(data)->error = ENOBUFS;
    return MNL_CB_ERROR;
}

// Owns a netlink socket.
class Socket {
public:
    Socket() : m_socket(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC)) {}
    ~Socket()
    {
        if (m_socket != nullptr) {
            mnl_socket_close(m_socket);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    mnl_socket* get() const { return m_socket; }

private:
    mnl_socket* m_socket;
};

// Sends one request and hands every data message of the answer to the handler: 0 once the
// answer is complete, else the errno that stopped it.
int transact(nlmsghdr* request, const wire::MessageHandler& handler)
{
    const Socket nl;
    if (nl.get() == nullptr) {
        return errno;
    }
    if (mnl_socket_bind(nl.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
        return errno;
    }
    const int fd = mnl_socket_get_fd(nl.get());
    // Lets the kernel filter a dump by interface; an older kernel ignores the option, and the
    // filters are applied here as well.
    const int on = 1;
    ::setsockopt(fd, SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
    const timeval timeout{kTimeoutSeconds, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0) {
        return errno;
    }
    const std::uint32_t portid = mnl_socket_get_portid(nl.get());
    request->nlmsg_seq = nextSequence();
    if (mnl_socket_sendto(nl.get(), request, request->nlmsg_len) < 0) {
        return errno;
    }
    std::vector<std::uint8_t> buffer(kReceiveSize);
    for (;;) {
        sockaddr_nl from{};
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            return EMSGSIZE;
        }
        // Only the kernel (port 0) answers; anything else is no part of this answer.
        if (message.msg_namelen != sizeof from || from.nl_family != AF_NETLINK ||
            from.nl_pid != 0) {
            return EPROTO;
        }
        const Result<wire::Progress> step =
            wire::readDatagram(std::span(buffer.data(), static_cast<std::size_t>(n)),
                               request->nlmsg_seq, portid, handler);
        if (!step) {
            return step.error();
        }
        if (*step == wire::Progress::Done) {
            return 0;
        }
    }
}

// A request of the queries: a fixed buffer holds the header, the family header and at most a
// few attributes.
struct Query {
    Query(std::uint16_t type, std::uint16_t flags)
    {
        message = mnl_nlmsg_put_header(buffer.data());
        message->nlmsg_type = type;
        message->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    }
    template <typename T> T& header()
    {
        return *static_cast<T*>(mnl_nlmsg_put_extra_header(message, sizeof(T)));
    }

    alignas(4) std::array<char, 256> buffer{};
    nlmsghdr* message;
};

// Dumps one kind of object; keep(x) says which belong to the answer.
template <typename T, typename Keep> Result<std::vector<T>> dump(Query& query, const Keep& keep)
{
    std::vector<T> out;
    const int error = transact(query.message, [&](const nlmsghdr* m) {
        T item;
        if (const int e = wire::decode(m, item); e != 0) {
            return e;
        }
        if (keep(item)) {
            out.push_back(std::move(item));
        }
        return 0;
    });
    if (error != 0) {
        return Failure{error};
    }
    return out;
}

} // namespace

Ipv4 prefixMask(int prefix)
{
    if (prefix <= 0) {
        return 0;
    }
    return prefix >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix);
}

Result<std::vector<Address>> addresses(unsigned index)
{
    Query q(RTM_GETADDR, NLM_F_DUMP);
    auto& ifa = q.header<ifaddrmsg>();
    ifa.ifa_family = AF_INET;
    ifa.ifa_index = index;
    return dump<Address>(q, [index](const Address& a) { return index == 0 || a.index == index; });
}

Result<std::vector<Neighbour>> neighbours(unsigned index)
{
    Query q(RTM_GETNEIGH, NLM_F_DUMP);
    q.header<ndmsg>().ndm_family = AF_INET;
    if (index != 0) {
        mnl_attr_put_u32(q.message, NDA_IFINDEX, index);
    }
    return dump<Neighbour>(q,
                           [index](const Neighbour& n) { return index == 0 || n.index == index; });
}

Result<std::optional<Neighbour>> neighbour(unsigned index, Ipv4 ip)
{
    if (index == 0) {
        return Failure{EINVAL};
    }
    // One entry asked for by address: the kernel looks it up instead of dumping its table.
    Query q(RTM_GETNEIGH, NLM_F_ACK);
    auto& nd = q.header<ndmsg>();
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = static_cast<int>(index);
    mnl_attr_put_u32(q.message, NDA_DST, htonl(ip));
    std::optional<Neighbour> found;
    const int error = transact(q.message, [&](const nlmsghdr* m) {
        Neighbour n;
        if (const int e = wire::decode(m, n); e != 0) {
            return e;
        }
        if (n.index != index || n.ip != ip || found) {
            return EPROTO;
        }
        found = n;
        return 0;
    });
    if (error == ENOENT) {
        return std::optional<Neighbour>();
    }
    if (error != 0) {
        return Failure{error};
    }
    if (!found) {
        return Failure{EPROTO};
    }
    return found;
}

Result<std::vector<Route>> routes()
{
    Query q(RTM_GETROUTE, NLM_F_DUMP);
    q.header<rtmsg>().rtm_family = AF_INET;
    // The dump holds the local table and any others too.
    return dump<Route>(q, [](const Route& r) { return r.table == RT_TABLE_MAIN; });
}

Result<std::vector<Link>> links()
{
    Query q(RTM_GETLINK, NLM_F_DUMP);
    q.header<ifinfomsg>().ifi_family = AF_UNSPEC;
    return dump<Link>(q, [](const Link&) { return true; });
}

Request::Request(std::uint16_t type, std::uint16_t flags)
{
    m_message = mnl_nlmsg_put_header(m_buffer.data());
    m_message->nlmsg_type = type;
    m_message->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
}

void* Request::reserveHeader(std::size_t size)
{
    return mnl_nlmsg_put_extra_header(m_message, size);
}

void Request::put(std::uint16_t type, const void* data, std::size_t size)
{
    if (!mnl_attr_put_check(m_message, m_buffer.size(), type, size, data)) {
        m_overflow = true;
    }
}

void Request::putString(std::uint16_t type, const std::string& text)
{
    if (!mnl_attr_put_strz_check(m_message, m_buffer.size(), type, text.c_str())) {
        m_overflow = true;
    }
}

nlattr* Request::nest(std::uint16_t type)
{
    nlattr* n = mnl_attr_nest_start_check(m_message, m_buffer.size(), type);
    if (n == nullptr) {
        m_overflow = true;
    }
    return n;
}

void Request::endNest(nlattr* nest)
{
    if (nest != nullptr) {
        mnl_attr_nest_end(m_message, nest);
    }
}

int Request::execute()
{
    if (m_overflow) {
        return EMSGSIZE;
    }
    return transact(m_message, [](const nlmsghdr*) { return 0; });
}

namespace wire {

Result<Progress> readDatagram(std::span<const std::uint8_t> datagram, std::uint32_t seq,
                              std::uint32_t portid, const MessageHandler& handler)
{
    // The whole datagram is checked before any message of it is taken: its messages must fill
    // it exactly and all answer this request.
    // Done here in unsigned arithmetic: libmnl's own check takes a length of 2 GiB or more for
    // a negative one and walks off the datagram.
    if (datagram.empty() || datagram.size() > kReceiveSize) {
        return Failure{EBADMSG};
    }
    for (std::size_t at = 0; at < datagram.size();) {
        const std::size_t left = datagram.size() - at;
        const auto* m = reinterpret_cast<const nlmsghdr*>(datagram.data() + at);
        if (left < sizeof(nlmsghdr) || m->nlmsg_len < sizeof(nlmsghdr) || m->nlmsg_len > left) {
            return Failure{EBADMSG};
        }
        if (m->nlmsg_seq != seq || m->nlmsg_pid != portid) {
            return Failure{EPROTO};
        }
        at += NLMSG_ALIGN(m->nlmsg_len);
    }
    Dispatch d{&handler};
    std::array<mnl_cb_t, NLMSG_MIN_TYPE> control{};
    control[NLMSG_NOOP] = onNoop;
    control[NLMSG_ERROR] = onError;
    control[NLMSG_DONE] = onDone;
    control[NLMSG_OVERRUN] = onOverrun;
    errno = 0;
    const int ret = mnl_cb_run2(datagram.data(), datagram.size(), seq, portid, onData, &d,
                                control.data(), static_cast<unsigned>(control.size()));
    if (ret == MNL_CB_ERROR) {
        // libmnl itself stops at NLM_F_DUMP_INTR (EINTR) before any callback runs.
        return Failure{d.error != 0 ? d.error : (errno != 0 ? errno : EPROTO)};
    }
    return d.done ? Progress::Done : Progress::More;
}

int decode(const nlmsghdr* m, Address& out)
{
    if (m->nlmsg_type != RTM_NEWADDR) {
        return EPROTO;
    }
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(ifaddrmsg))) {
        return EBADMSG;
    }
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(m));
    if (ifa->ifa_family != AF_INET) {
        return EPROTO;
    }
    if (ifa->ifa_prefixlen > 32) {
        return EBADMSG;
    }
    out = Address{};
    out.index = ifa->ifa_index;
    out.prefix = ifa->ifa_prefixlen;
    out.scope = ifa->ifa_scope;
    out.flags = ifa->ifa_flags;
    std::optional<Ipv4> local;
    std::optional<Ipv4> peer;
    const int error = forEachAttribute(m, sizeof(ifaddrmsg), [&](const nlattr* a) {
        switch (mnl_attr_get_type(a)) {
        case IFA_LOCAL:
            return readIpv4(a, local.emplace());
        case IFA_ADDRESS:
            return readIpv4(a, peer.emplace());
        case IFA_LABEL:
            return readString(a, out.label);
        case IFA_FLAGS:
            return readU32(a, out.flags);
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
    return 0;
}

int decode(const nlmsghdr* m, Neighbour& out)
{
    if (m->nlmsg_type != RTM_NEWNEIGH) {
        return EPROTO;
    }
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(ndmsg))) {
        return EBADMSG;
    }
    const auto* nd = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(m));
    if (nd->ndm_family != AF_INET) {
        return EPROTO;
    }
    out = Neighbour{};
    out.index = static_cast<unsigned>(nd->ndm_ifindex);
    out.state = nd->ndm_state;
    out.flags = nd->ndm_flags;
    bool haveDestination = false;
    const int error = forEachAttribute(m, sizeof(ndmsg), [&](const nlattr* a) {
        switch (mnl_attr_get_type(a)) {
        case NDA_DST:
            haveDestination = true;
            return readIpv4(a, out.ip);
        case NDA_LLADDR:
            // Ethernet's six bytes; other link layers (tunnels) have no MAC to compare.
            if (mnl_attr_get_payload_len(a) == 6) {
                Mac mac;
                std::memcpy(mac.data(), mnl_attr_get_payload(a), mac.size());
                out.mac = mac;
            }
            return 0;
        default:
            return 0;
        }
    });
    if (error != 0) {
        return error;
    }
    return haveDestination ? 0 : EBADMSG;
}

int decode(const nlmsghdr* m, Route& out)
{
    if (m->nlmsg_type != RTM_NEWROUTE) {
        return EPROTO;
    }
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(rtmsg))) {
        return EBADMSG;
    }
    const auto* rt = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(m));
    if (rt->rtm_family != AF_INET) {
        return EPROTO;
    }
    if (rt->rtm_dst_len > 32) {
        return EBADMSG;
    }
    out = Route{};
    out.prefix = rt->rtm_dst_len;
    out.type = rt->rtm_type;
    std::uint32_t table = rt->rtm_table;
    const int error = forEachAttribute(m, sizeof(rtmsg), [&](const nlattr* a) {
        switch (mnl_attr_get_type(a)) {
        case RTA_DST:
            return readIpv4(a, out.destination);
        case RTA_GATEWAY:
            return readIpv4(a, out.gateway);
        case RTA_OIF:
            return readU32(a, out.index);
        case RTA_PRIORITY:
            return readU32(a, out.priority);
        case RTA_TABLE:
            return readU32(a, table);
        default:
            return 0;
        }
    });
    if (error != 0) {
        return error;
    }
    out.table = table;
    return 0;
}

int decode(const nlmsghdr* m, Link& out)
{
    if (m->nlmsg_type != RTM_NEWLINK) {
        return EPROTO;
    }
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(ifinfomsg))) {
        return EBADMSG;
    }
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(m));
    out = Link{};
    out.index = static_cast<unsigned>(ifi->ifi_index);
    out.flags = ifi->ifi_flags;
    bool named = false;
    const int error = forEachAttribute(m, sizeof(ifinfomsg), [&](const nlattr* a) {
        if (mnl_attr_get_type(a) == IFLA_IFNAME) {
            named = true;
            return readString(a, out.name);
        }
        return 0;
    });
    if (error != 0) {
        return error;
    }
    return named ? 0 : EBADMSG;
}

} // namespace wire

} // namespace netlink
