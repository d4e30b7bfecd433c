#pragma once

#include "InterfaceName.h"
#include "Result.h"
#include "Wording.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

// What torvane-assign asks the kernel without any privilege: interfaces and their addresses,
// and the neighbour table (rtnetlink RTM_GETNEIGH on Linux, the IP Helper API on Windows).
// Errors are errno values on both systems (see errorText).
namespace assign {

/// The states of a neighbour entry, as bits with the values of Linux's NUD_* (which the Linux
/// code checks at compile time); Windows maps its NL_NEIGHBOR_STATE onto them.
namespace nud {
constexpr std::uint16_t Incomplete = 0x01;
constexpr std::uint16_t Reachable = 0x02;
constexpr std::uint16_t Stale = 0x04;
constexpr std::uint16_t Delay = 0x08;
constexpr std::uint16_t Probe = 0x10;
constexpr std::uint16_t Failed = 0x20;
constexpr std::uint16_t NoArp = 0x40;
constexpr std::uint16_t Permanent = 0x80;
} // namespace nud

struct InterfaceState {
    unsigned index = 0; ///< 0: no such interface
    bool up = false;
    int error = 0; ///< the errno that kept the kernel from answering; then index is 0
};

InterfaceState interfaceState(const std::string& name);

struct LocalAddress {
    unsigned index;
    Ip ip;
    Ip mask;
};

/// Every IPv4 address of this PC with its interface and mask, or the errno that kept the kernel
/// from answering.
netlink::Result<std::vector<LocalAddress>> readLocalAddresses();
/// The same; throws std::system_error when the addresses cannot be read.
std::vector<LocalAddress> localAddresses();

/// The address a reply names as its server (siaddr): the arrival interface's address in the
/// card's subnet, else its first one, else 0.0.0.0.
Ip serverAddress(const std::vector<LocalAddress>& local, unsigned index, Ip card, Ip mask);

/// One entry of the neighbour table.
struct Neighbour {
    std::uint16_t state = 0; ///< nud:: bits
    std::optional<Mac> mac;
};

/// The entry for ip on interface index, read from the kernel: nullopt when there is none, or
/// the errno that kept the kernel from answering (ENODEV: the interface is gone).
netlink::Result<std::optional<Neighbour>> readNeighbourEntry(unsigned index, Ip ip);
/// The same; throws std::system_error when the table cannot be read.
std::optional<Neighbour> neighbourEntry(unsigned index, Ip ip);

/// Whether an entry shows a live owner of the address other than mac: a resolved MAC that is
/// not mac, in a state the kernel has just seen answer (REACHABLE), pinned (PERMANENT, NOARP),
/// or not yet re-checked (STALE, DELAY, PROBE: counted as in use, to be safe).
bool heldByOther(const Neighbour& n, const Mac& mac);
/// REACHABLE, PERMANENT or NOARP: the answer is final.
bool settled(const Neighbour& n);

/// Makes the kernel resolve ip on interface index (an ARP request on the wire) by sending one
/// empty UDP datagram to its discard port. False, with errno set, when the datagram could not
/// be queued.
bool nudge(unsigned index, Ip ip);

/// The words for an errno that a query above returned or left in errno: strerror's, and on
/// Windows also the system's own error of this thread's last failed query when it was mapped
/// to that errno ("No such device (GetIfEntry2: <the system's text> (2))").
std::string errorText(int error);

} // namespace assign
