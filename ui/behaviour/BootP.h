#pragma once

#include "PublicArea.h"

#include <cstdint>
#include <span>

// The three operations of the main window on a received boot message, over its state
// (PublicArea). The wire rules themselves are in bootp/.
namespace behaviour {

/// True if and only if the message is a boot request from an unconfigured card whose
/// options open with the card's option bytes.
bool chkRequest(std::span<const std::uint8_t> message);

/// Rebuilds area.G_MacAddr from chaddr bytes 0 to 5 ("00-0A-1B-C2-3D-FF"); empty when the
/// message is too short to hold them.
void macText(std::span<const std::uint8_t> message, PublicArea& area);

/// Turns the request into the reply in place from G_IpAddr, G_LocalIp, G_SbMask and
/// G_GateWay. Returns false and writes nothing when the message is too short.
bool makeReply(std::span<std::uint8_t> message, const PublicArea& area);

} // namespace behaviour
