#pragma once

#include "Addresses.h"

#include <optional>
#include <vector>

// The rules every card's settings follow, held once: the windows check the operator's entry
// with them, torvane-assign its lists and pools, and the helper every reply it sends.
namespace bootp {

/// The prefix length of a contiguous mask (0 to 32); nullopt when the mask has holes.
std::optional<int> maskPrefix(const Ipv4& mask);

/// What makes an address unfit for a card or its gateway.
enum class AddressProblem : std::uint8_t {
    ThisNetwork,      ///< 0.0.0.0/8
    Loopback,         ///< 127.0.0.0/8
    Multicast,        ///< 224.0.0.0/4
    Reserved,         ///< 240.0.0.0/4, the limited broadcast included
    NetworkAddress,   ///< the network address of its subnet
    BroadcastAddress, ///< the broadcast address of its subnet
};

/// Why ip cannot be a host's address on any network, or nullopt.
std::optional<AddressProblem> unicastProblem(const Ipv4& ip);

/// Whether ip is the network or the broadcast address of the subnet that mask gives it; a
/// /31 or /32 has neither (RFC 3021).
std::optional<AddressProblem> subnetEdge(const Ipv4& ip, const Ipv4& mask);

/// Which of a card's three settings is wrong, and why.
struct SettingsProblem {
    enum class Field : std::uint8_t { Address, Mask, Gateway };
    enum class Kind : std::uint8_t {
        Unfit,         ///< see address: the address is not a unicast host address there
        MaskHoles,     ///< the mask's one bits are not contiguous
        MaskZero,      ///< 0.0.0.0 leaves no subnet
        OutsideSubnet, ///< the gateway lies outside the card's subnet
        CardsAddress,  ///< the gateway is the card's own address
    };
    Field field;
    Kind kind;
    /// With Kind::Unfit, what is wrong with the address or gateway.
    AddressProblem address = AddressProblem::ThisNetwork;
    bool operator==(const SettingsProblem&) const = default;
};

/// A contiguous, non-zero mask; a unicast host address that is neither the network nor the
/// broadcast address of its subnet; a gateway of 0.0.0.0 (none) or another such host inside
/// that subnet.
std::optional<SettingsProblem> checkSettings(const Ipv4& ip, const Ipv4& mask, const Ipv4& gateway);

/// This PC as the checks against it need it: every IPv4 address with its prefix length and
/// interface, and the gateway of every route (all tables).
struct HostFacts {
    struct Address {
        Ipv4 ip{};
        int prefix = 32;
        int ifindex = 0;
    };
    std::vector<Address> addresses;
    std::vector<Ipv4> gateways;
};

/// Why an address would clash with this PC.
enum class HostClash : std::uint8_t {
    LocalAddress, ///< an address of this PC
    SubnetEdge,   ///< the network or broadcast address of a subnet this PC is on
    Gateway,      ///< the gateway of one of this PC's routes
};

/// Refuses an address that would take the place of this PC, one of its subnets' edges or one
/// of its gateways: no card may be given it, nor may it enter the neighbour table.
std::optional<HostClash> clashWithHost(const Ipv4& ip, const HostFacts& host);

/// Whether ip is an address of interface ifindex.
bool isAddressOf(const Ipv4& ip, int ifindex, const HostFacts& host);

} // namespace bootp
