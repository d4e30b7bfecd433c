#pragma once

#include "Addresses.h"
#include "BootMessage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A card's boot request and the reply that gives it its addresses, as pure functions over the
// datagram's bytes. Every function is safe for a message of any length.
namespace bootp {

/// True if and only if the message is a boot request from an unconfigured card: op 1, a
/// hardware address that is not all zeros, not relayed (hops and giaddr 0), and options that
/// open with tmpl. A message too short to hold every field the reply rewrites is never one.
bool isCardRequest(std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t, kTemplateSize> tmpl = kCardOptions);

/// The first six bytes of chaddr; all zeros when the message is too short to hold them.
Mac requestMac(std::span<const std::uint8_t> message);

/// What a reply gives the card, and which server it names (siaddr).
struct Assignment {
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv4 gateway{};
    Ipv4 server{};
    bool operator==(const Assignment&) const = default;
};

/// Turns the request into the reply in place: op 2, yiaddr, siaddr and, at 246 to 258, the
/// mask, router and end options; every other byte stays as the card sent it. Returns false
/// and writes nothing when the message is too short to hold those fields.
bool writeReply(std::span<std::uint8_t> message, const Assignment& a);

/// The reply to request as a new datagram of the request's length; empty when the request is
/// too short.
std::vector<std::uint8_t> buildReply(std::span<const std::uint8_t> request, const Assignment& a);

/// The assignment that reply carries, if and only if reply is exactly what buildReply makes
/// of request for it; nullopt for any other byte anywhere.
std::optional<Assignment> readReply(std::span<const std::uint8_t> request,
                                    std::span<const std::uint8_t> reply);

} // namespace bootp
