#pragma once

#include <linux/filter.h>

#include <array>

// The classic BPF program on the helper's listening socket. The kernel runs it on every
// datagram for port 67 and drops what is not shaped like a card request (source port 68, 300
// to 576 bytes, op 1, the card's ten option bytes at 236), so other clients' DHCP traffic
// never wakes the helper. It only narrows: whatever it keeps is checked again in full.
namespace helper {

/// A UDP socket's filter sees the datagram from its UDP header on.
inline constexpr unsigned kUdpHeader = 8;

const std::array<sock_filter, 15>& cardRequestFilter();

} // namespace helper
