#pragma once

#include "Rules.h"

#include <optional>

// The address this PC may take for a while to reach a card whose new address lies outside
// every network of the interface it answered on: one host of the card's own subnet, added as
// a /32 with a host route to the card alone. The front-ends choose it with these rules and the
// helper's writer checks them again before it adds anything.
namespace bootp {

/// Why an address cannot be the temporary one for a card.
enum class TemporaryProblem : std::uint8_t {
    OutsideSubnet, ///< not in the card's subnet
    NotHost,       ///< the subnet's network or broadcast address, or no unicast host's at all
    CardsAddress,  ///< the card's own address
    CardsGateway,  ///< the gateway the card was given
    ThisPc,        ///< an address of this PC, an edge of its subnets or a gateway of its routes
};

/// The card as it was answered: its address, mask and gateway (0.0.0.0 for none).
struct CardSettings {
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv4 gateway{};
};

/// Why candidate cannot be the temporary address for card, or nullopt when it can (as far as
/// the addresses go; whether another device holds it is for an ARP probe to say).
std::optional<TemporaryProblem> temporaryProblem(const Ipv4& candidate, const CardSettings& card,
                                                 const HostFacts& host);

/// The temporary address to try first (after == nullopt), or the one to try when after was
/// answered by another device: the highest host of the card's subnet that temporaryProblem
/// accepts, below after. nullopt when the subnet has no such host left, or when the card's
/// settings break the card rules.
std::optional<Ipv4> nextTemporary(const CardSettings& card, const HostFacts& host,
                                  const std::optional<Ipv4>& after = std::nullopt);

} // namespace bootp
