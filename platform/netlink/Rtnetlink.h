#pragma once

#include "Result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct nlmsghdr;
struct nlattr;

// What the unprivileged programs ask the kernel over rtnetlink (IPv4 addresses, neighbour
// entries, routes, links), and the few set-up requests of the test tools, on libmnl. Every
// query gives the kernel's whole answer or an errno; never part of a dump, never an empty list
// for a query that failed.
namespace netlink {

using Ipv4 = std::uint32_t; ///< host byte order
using Mac = std::array<std::uint8_t, 6>;

/// The mask of a prefix length (0..32).
Ipv4 prefixMask(int prefix);

/// One IPv4 address of an interface (RTM_NEWADDR).
struct Address {
    unsigned index = 0;
    Ipv4 ip = 0; ///< the interface's own address (IFA_LOCAL)
    int prefix = 32;
    std::uint8_t scope = 0;  ///< RT_SCOPE_*
    std::uint32_t flags = 0; ///< IFA_F_*
    std::string label;       ///< IFA_LABEL: "eth0", "eth0:1"
    Ipv4 mask() const { return prefixMask(prefix); }
};

/// One IPv4 neighbour entry (RTM_NEWNEIGH).
struct Neighbour {
    unsigned index = 0;
    Ipv4 ip = 0;
    std::uint16_t state = 0; ///< NUD_* bits
    std::uint8_t flags = 0;  ///< NTF_* bits
    std::optional<Mac> mac;  ///< none while the entry is unresolved
};

/// One IPv4 route of the main table (RTM_NEWROUTE).
struct Route {
    unsigned index = 0; ///< output interface; 0 for a multipath or unreachable route
    Ipv4 destination = 0;
    int prefix = 0;
    Ipv4 gateway = 0; ///< 0: on-link
    std::uint32_t priority = 0;
    std::uint32_t table = 0; ///< RT_TABLE_*
    std::uint8_t type = 0;   ///< RTN_*
};

/// One interface (RTM_NEWLINK).
struct Link {
    unsigned index = 0;
    std::string name;
    unsigned flags = 0; ///< IFF_*
};

/// The IPv4 addresses of one interface (index > 0) or of all, in the kernel's order.
Result<std::vector<Address>> addresses(unsigned index = 0);
/// The IPv4 neighbour entries of one interface (index > 0) or of all.
Result<std::vector<Neighbour>> neighbours(unsigned index = 0);
/// The entry for ip on the interface; nullopt when the kernel has none. An interface that is
/// gone is an error (ENODEV), not "no entry".
Result<std::optional<Neighbour>> neighbour(unsigned index, Ipv4 ip);
/// The IPv4 unicast routes of the main table.
Result<std::vector<Route>> routes();
/// Every interface.
Result<std::vector<Link>> links();

/// A request the kernel acknowledges: adding or removing an address or an interface.
class Request {
public:
    /// NLM_F_REQUEST and NLM_F_ACK are always set.
    Request(std::uint16_t type, std::uint16_t flags);
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    /// The family header (ifaddrmsg, ifinfomsg, ...), zeroed; call once, before any attribute.
    template <typename T> T& header() { return *static_cast<T*>(reserveHeader(sizeof(T))); }
    void put(std::uint16_t type, const void* data, std::size_t size);
    template <typename T> void put(std::uint16_t type, const T& value)
    {
        put(type, &value, sizeof value);
    }
    /// A NUL-terminated string attribute.
    void putString(std::uint16_t type, const std::string& text);
    /// Opens a nested attribute; end it with what this returns.
    nlattr* nest(std::uint16_t type);
    void endNest(nlattr* nest);

    /// Sends it on a socket of its own and waits for the acknowledgement: 0, the errno the
    /// kernel answered, or the errno that stopped the exchange (EMSGSIZE when the request
    /// outgrew its buffer).
    int execute();

private:
    void* reserveHeader(std::size_t size);

    alignas(4) std::array<char, 4096> m_buffer{};
    nlmsghdr* m_message;
    bool m_overflow = false;
};

// The reading of the kernel's answers, apart from the socket so that the tests feed it canned
// datagrams.
namespace wire {

/// One datagram told: the answer goes on, or it is complete.
enum class Progress { More, Done };

/// Handles one data message of the answer: 0, or an errno that ends the query.
using MessageHandler = std::function<int(const nlmsghdr*)>;

/// Reads one datagram of the answer to request seq on port portid. Fails with the kernel's
/// errno (NLMSG_ERROR, or a negative NLMSG_DONE of a dump), EINTR when the dump was
/// interrupted (NLM_F_DUMP_INTR: the table changed under it), EBADMSG for a truncated or
/// malformed message, EPROTO for a message of another request or port, or the handler's error.
Result<Progress> readDatagram(std::span<const std::uint8_t> datagram, std::uint32_t seq,
                              std::uint32_t portid, const MessageHandler& handler);

/// Decoders of one data message: 0, EBADMSG when it is malformed, EPROTO when it is not of the
/// IPv4 family asked for.
int decode(const nlmsghdr* message, Address& out);
int decode(const nlmsghdr* message, Neighbour& out);
int decode(const nlmsghdr* message, Route& out);
int decode(const nlmsghdr* message, Link& out);

} // namespace wire

} // namespace netlink
