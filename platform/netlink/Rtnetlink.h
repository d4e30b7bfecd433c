#pragma once

#include "NetlinkWire.h"
#include "Result.h"

#include <array>
#include <cstdint>
#include <string>

struct nlattr;

// What the unprivileged programs ask the kernel over rtnetlink (IPv4 addresses, neighbour
// entries, routes, links), and the few set-up requests of the test tools. The exchange and the
// reading of the answers are NetlinkWire's, which the helper shares; only the set-up requests
// are built with libmnl. Every query gives the kernel's whole answer or an errno; never part of
// a dump, never an empty list for a query that failed.
namespace netlink {

/// The IPv4 addresses of one interface (index > 0) or of all, in the kernel's order.
Result<std::vector<Address>> addresses(unsigned index = 0);
/// The IPv4 neighbour entries of one interface (index > 0) or of all.
Result<std::vector<Neighbour>> neighbours(unsigned index = 0);
/// The entry for ip on the interface; nullopt when the kernel has none. An interface that is
/// gone is an error (ENODEV), not "no entry".
Result<std::optional<Neighbour>> neighbour(unsigned index, Ipv4 ip);
/// The IPv4 routes of the main table, nexthop objects resolved (NetlinkWire's routes()).
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

} // namespace netlink
