#pragma once

#include "NetlinkWire.h"
#include "Policy.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include <linux/filter.h>

// The kernel services the helper uses: rtnetlink for addresses, routes and neighbours (through
// NetlinkWire, as torvane_netlink), capabilities and the system-call filter. Nothing here reads
// a file. Every query either answers in full or fails with an errno: a failed query is never an
// empty answer.
namespace helper {

/// An rtnetlink socket, opened once before the system-call filter forbids new sockets.
class RouteLink {
public:
    /// Opens the socket (a test hands in a stand-in of the kernel); check error() afterwards.
    explicit RouteLink(
        std::unique_ptr<netlink::wire::Socket> socket = std::make_unique<netlink::wire::Socket>())
        : m_socket(std::move(socket))
    {
    }

    /// 0 when open, else the errno of opening it.
    int error() const { return m_socket->error(); }
    /// The socket's descriptor (the listener may send on it); -1 when there is none.
    int descriptor() const { return m_socket->descriptor(); }

    /// This PC's IPv4 addresses (with their interfaces) and the gateways of its routes, all
    /// tables, nexthop objects resolved; 0 or an errno.
    int hostFacts(HostFacts& out);
    /// From now on hostFacts answers as it last read the kernel while the kernel has announced
    /// no change of a link, an address, a route or a nexthop since; 0 or an errno (then every
    /// call reads the kernel, as before).
    int watchHost();

    /// The neighbour entry for ip on ifindex: whether there is one with a MAC, its MAC and
    /// whether it is permanent; 0 or an errno (ENOENT is "no entry", not an error).
    struct NeighbourEntry {
        bool present = false;
        bool hasMac = false;
        Mac mac{};
        bool permanent = false;
    };
    int neighbour(int ifindex, const Ipv4& ip, NeighbourEntry& out);

    /// Makes the entry for ip on ifindex permanent with mac, without ever replacing an entry
    /// that holds another MAC (see Kernel.cpp); 0 or an errno. Needs cap_net_admin.
    int addPermanent(int ifindex, const Ipv4& ip, const Mac& mac);

    /// Adds ip/32 to ifindex, which the kernel removes after lifetime seconds unless it is
    /// renewed (renew: the same again, for an address that is still there); 0 or an errno.
    int addTemporaryAddress(int ifindex, const Ipv4& ip, std::uint32_t lifetime, bool renew);
    /// Whether ifindex holds ip/32 now; 0 or an errno.
    int hasAddress(int ifindex, const Ipv4& ip, bool& out);
    int deleteAddress(int ifindex, const Ipv4& ip);
    /// The host route to card out of ifindex with source ip, in the main table; 0 or an errno.
    int addHostRoute(int ifindex, const Ipv4& card, const Ipv4& source);
    int deleteHostRoute(int ifindex, const Ipv4& card, const Ipv4& source);

private:
    int acknowledged(netlink::wire::Query& request);
    int readHostFacts(HostFacts& facts);
    /// Empties the watch's queue; true when it held nothing.
    bool hostUnchanged();

    std::unique_ptr<netlink::wire::Socket> m_socket;
    /// Subscribed to the kernel's announcements of link, address, route and nexthop changes.
    struct Watch {
        int fd = -1;
        Watch() = default;
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        ~Watch();
    } m_watch;
    std::optional<HostFacts> m_facts; ///< what hostFacts read last, while watched
};

/// Narrows the permitted and effective capability sets to these bit masks of CAP_* (what
/// the process does not hold stays out); the inheritable set is emptied. False on failure.
bool setCapabilities(std::uint64_t permitted, std::uint64_t effective);

/// Installs a system-call filter made by systemCallFilter(); false on failure.
bool installSystemCallFilter(std::span<const sock_filter> program);

inline constexpr std::uint64_t kCapNetBindService = std::uint64_t(1) << 10;
inline constexpr std::uint64_t kCapNetAdmin = std::uint64_t(1) << 12;
inline constexpr std::uint64_t kCapNetRaw = std::uint64_t(1) << 13;

} // namespace helper
