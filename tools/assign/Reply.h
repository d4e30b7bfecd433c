#pragma once

#include "Address.h"

#include <cstdint>
#include <span>
#include <vector>

namespace assign {

/// The card's request turned into its reply: op 2, yiaddr, siaddr and, at 246 to 258, the
/// mask, router and end options; every other byte as the card sent it (the helper refuses
/// anything else). Empty when the request is too short to hold those fields.
std::vector<std::uint8_t> cardReply(std::span<const std::uint8_t> request, Ip ip, Ip mask,
                                    Ip gateway, Ip server);

/// The MAC in the first six bytes of chaddr.
Mac requestMac(std::span<const std::uint8_t> request);

} // namespace assign
