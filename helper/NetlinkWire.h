#pragma once

#include "Addresses.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct nlmsghdr;

// rtnetlink on libc alone, for the privileged helper and torvane_netlink both: the requests of
// the queries, the exchange over the socket and the reading of the kernel's answers. Every
// exchange gives the kernel's whole answer or an errno; never part of a dump.
namespace netlink {

using Ipv4 = std::uint32_t; ///< host byte order
using Mac = std::array<std::uint8_t, 6>;

/// One IPv4 address of an interface (RTM_NEWADDR).
struct Address {
    unsigned index = 0;
    Ipv4 ip = 0;   ///< the interface's own address (IFA_LOCAL)
    Ipv4 peer = 0; ///< IFA_ADDRESS: the peer on a point-to-point link, else the same as ip
    int prefix = 32;
    std::uint8_t scope = 0;  ///< RT_SCOPE_*
    std::uint32_t flags = 0; ///< IFA_F_*
    std::string label;       ///< IFA_LABEL: "eth0", "eth0:1"
    Ipv4 mask() const { return bootp::prefixMask(prefix); }
};

/// One IPv4 neighbour entry (RTM_NEWNEIGH).
struct Neighbour {
    unsigned index = 0;
    Ipv4 ip = 0;
    std::uint16_t state = 0; ///< NUD_* bits
    std::uint8_t flags = 0;  ///< NTF_* bits
    std::optional<Mac> mac;  ///< none while the entry is unresolved
};

/// One IPv4 route (RTM_NEWROUTE).
struct Route {
    unsigned index = 0; ///< output interface (of the first hop when multipath); 0: none
    Ipv4 destination = 0;
    int prefix = 0;
    Ipv4 gateway = 0;           ///< 0: on-link
    std::vector<Ipv4> nexthops; ///< the gateways of a multipath route (RTA_MULTIPATH)
    std::uint32_t nexthopId = 0; ///< RTA_NH_ID: the nexthop object it uses; 0: none
    std::uint32_t priority = 0;
    std::uint32_t table = 0; ///< RT_TABLE_*
    std::uint8_t type = 0;   ///< RTN_*
};

/// One nexthop object (RTM_NEWNEXTHOP): a gateway on an interface, or a group of others.
struct Nexthop {
    std::uint32_t id = 0;
    unsigned index = 0;                ///< NHA_OIF; 0 for a group or a blackhole
    Ipv4 gateway = 0;                  ///< an IPv4 NHA_GATEWAY; 0: on-link, or IPv6
    std::vector<std::uint32_t> group;  ///< NHA_GROUP: the members' ids
};

/// One interface (RTM_NEWLINK).
struct Link {
    unsigned index = 0;
    std::string name;
    unsigned flags = 0; ///< IFF_*
};

namespace wire {

/// One datagram told: the answer goes on, it is complete, or the kernel's error ended it
/// (refused, and nothing of it is left to read).
enum class Progress { More, Done, Ended };

/// Handles one data message of the answer: 0, or an errno that ends the exchange.
using MessageHandler = std::function<int(const nlmsghdr*)>;

/// The largest datagram the kernel sends; a larger one is refused.
inline constexpr std::size_t kReceiveSize = 32768;
/// How often a dump is asked in all while the kernel marks it as interrupted.
inline constexpr int kDumpAttempts = 3;
/// How long the kernel may take for each datagram of an answer.
inline constexpr int kTimeoutSeconds = 2;

/// Reads one datagram of the answer to request seq on port portid, setting progress. Fails
/// with the kernel's errno (NLMSG_ERROR, or a negative NLMSG_DONE of a dump; progress Ended),
/// EINTR when the dump was interrupted (NLM_F_DUMP_INTR: the table changed under it), EBADMSG
/// for a truncated or malformed message, EPROTO for a message of another request or port,
/// ENOBUFS for an overrun, or the handler's error. A datagram that is malformed as a whole
/// reaches no handler.
int readDatagram(std::span<const std::uint8_t> datagram, std::uint32_t seq, std::uint32_t portid,
                 const MessageHandler& handler, Progress& progress);

/// Decoders of one data message: 0, EBADMSG when it is malformed, EPROTO when it is not of the
/// kind and IPv4 family asked for.
int decode(const nlmsghdr* message, Address& out);
int decode(const nlmsghdr* message, Neighbour& out);
int decode(const nlmsghdr* message, Route& out);
int decode(const nlmsghdr* message, Link& out);
/// Any family: a group's is AF_UNSPEC, and an IPv4 route may go through an IPv6 gateway.
int decode(const nlmsghdr* message, Nexthop& out);

/// A request of the queries: the header, one family header, a few attributes.
class Query {
public:
    /// NLM_F_REQUEST is always set.
    Query(std::uint16_t type, std::uint16_t flags);
    /// The family header, zeroed; call once, before any attribute.
    template <typename T> T& header() { return *static_cast<T*>(reserve(sizeof(T))); }
    void put(std::uint16_t type, const void* data, std::size_t size);
    nlmsghdr& message() { return *reinterpret_cast<nlmsghdr*>(m_buffer.data()); }

private:
    void* reserve(std::size_t size);

    alignas(4) std::array<char, 256> m_buffer{};
};

/// An rtnetlink socket, bound to a port of its own, with a receive time-out.
class Socket {
public:
    /// Opens the socket; check error() afterwards.
    Socket();
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    /// 0 when open, else the errno of opening it.
    int error() const { return m_error; }
    /// The socket's descriptor; -1 when there is none.
    int descriptor() const { return m_fd; }

    /// Sends one request and hands every data message of its answer to the handler: 0 once the
    /// answer is complete, else the errno that stopped it (ETIMEDOUT when the kernel went
    /// quiet, EPROTO for a datagram that is not the kernel's answer to it, EMSGSIZE for one
    /// cut short). A request other than a dump is acknowledged (NLM_F_ACK is set).
    int exchange(nlmsghdr& request, const MessageHandler& handler);
    /// The same for a request whose answer is one message (a get of one object): it is asked
    /// without an acknowledgement, and the answer ends with that message or with the error.
    int get(nlmsghdr& request, const MessageHandler& handler);

    /// Dumps one kind of object. A dump the kernel marks as interrupted is asked again, up to
    /// kDumpAttempts in all, and then fails with EINTR; a failed dump leaves out empty.
    template <typename T> int dump(nlmsghdr& request, std::vector<T>& out)
    {
        for (int attempt = 1;; ++attempt) {
            out.clear();
            const int error = exchange(request, [&out](const nlmsghdr* m) {
                T item;
                const int e = decode(m, item);
                if (e == 0) {
                    out.push_back(std::move(item));
                }
                return e;
            });
            if (error == 0) {
                return 0;
            }
            out.clear();
            if (error != EINTR || attempt == kDumpAttempts) {
                return error;
            }
        }
    }

protected:
    /// No descriptor: a stand-in of the kernel that answers to port `port` (the tests').
    explicit Socket(std::uint32_t port);
    /// Sends the request to the kernel: 0 or an errno.
    virtual int send(const nlmsghdr& request);
    /// Receives one datagram into buffer: 0 with its size and the sender's port, or an errno
    /// (EAGAIN when !wait and nothing is there, ETIMEDOUT when the time-out passed, EMSGSIZE
    /// when the datagram was cut).
    virtual int receive(std::span<std::uint8_t> buffer, bool wait, std::size_t& size,
                        std::uint32_t& sender);

private:
    int run(nlmsghdr& request, const MessageHandler& handler, bool single);

    int m_fd = -1;
    int m_error = 0;
    std::uint32_t m_port = 0;
    std::uint32_t m_seq = 0;
    bool m_unread = true; ///< an answer may have been left part-read: read it off first
    std::vector<std::uint8_t> m_buffer;
};

/// The neighbour entry for ip on interface index, asked by address so that the kernel looks it
/// up instead of dumping its table: 0 with out empty when there is none, or an errno. An
/// interface that is gone is an error (ENODEV), not "no entry"; an answer about another entry
/// is refused (EPROTO).
int neighbour(Socket& socket, unsigned index, Ipv4 ip, std::optional<Neighbour>& out);

/// Every IPv4 route of every table, a route through a nexthop object (RTA_NH_ID) given that
/// object's gateway and interface, or a group's gateways as its next hops, as the kernel would
/// have written them without the object: 0 or an errno. A route whose object, or a member of
/// whose group, is not in the nexthop table fails the query with EPROTO.
int routes(Socket& socket, std::vector<Route>& out);

} // namespace wire

} // namespace netlink
