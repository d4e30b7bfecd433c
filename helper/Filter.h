#pragma once

#include <linux/filter.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// What the helper reads card requests from: a packet socket for IPv4 that sees each datagram
// before the host firewall does (as ISC dhcpd and Kea do), with a classic BPF program that
// keeps only what is shaped like a card request (an Ethernet broadcast frame on an Ethernet
// interface, UDP from 0.0.0.0 port 68 to 255.255.255.255 port 67, not a fragment, 300 to 576
// bytes, op 1, the card's ten option bytes at 236), so that other clients' DHCP traffic never
// wakes the helper. The program only narrows: whatever it keeps is checked again
// in full. The UDP socket on port 67 stays, for exclusivity and for sending, and queues
// nothing.
namespace helper {

/// The program for the packet socket; it sees each packet from its IPv4 header on.
const std::array<sock_filter, 30>& cardPacketFilter();

/// The frame's part of the filter again, on what the socket reports (sll_pkttype,
/// sll_hatype): an Ethernet broadcast on an Ethernet interface, so nothing unicast, nothing
/// this PC sent, nothing from a tun device.
bool cardFrame(unsigned packetType, unsigned hardwareType);

/// The program for the UDP socket on port 67: it keeps nothing.
const std::array<sock_filter, 1>& nothingFilter();

/// A card request's UDP datagram inside an IPv4 packet as the packet socket reads it.
struct UdpDatagram {
    std::uint8_t source[4];
    std::uint8_t destination[4];
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::span<const std::uint8_t> payload;
};

/// The datagram inside packet, if the packet is a whole, well-formed IPv4 UDP packet with a
/// time to live, whose header checksum and UDP checksum (when one is given) are right;
/// nullopt otherwise. A
/// packet from a local virtual link may carry a checksum the sender left to the hardware;
/// the kernel says so (checksumPending), and the UDP checksum is then not examined.
std::optional<UdpDatagram> udpInIpv4(std::span<const std::uint8_t> packet,
                                     bool checksumPending = false);

} // namespace helper
