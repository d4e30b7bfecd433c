#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// IPv4 addresses, masks and MACs as every part of Torvane holds them, and their text forms.
namespace bootp {

/// An IPv4 address or mask: four octets, element 0 the leftmost number of the dotted text,
/// which is also the order on the wire.
using Ipv4 = std::array<std::uint8_t, 4>;
/// A hardware address as it stands in chaddr.
using Mac = std::array<std::uint8_t, 6>;

/// The address as a number, 10.0.0.1 = 0x0A000001, so that subnets are plain arithmetic.
std::uint32_t toValue(const Ipv4& ip);
Ipv4 fromValue(std::uint32_t value);
/// The mask of a prefix length as a number: 24 = 0xFFFFFF00; 0 or less none, 32 or more all.
std::uint32_t prefixMask(int prefix);

/// "192.168.0.20": four decimal numbers without leading zeros.
std::string ipText(const Ipv4& ip);

/// Why a text is not an address.
enum class TextProblem : std::uint8_t {
    Shape,       ///< not four numbers joined by dots / not six hexadecimal pairs
    LeadingZero, ///< a number with a leading zero, which some tools read as octal
    Range,       ///< a number above 255
};

/// Dotted quad of four decimal numbers 0 to 255, nothing before or after.
std::optional<Ipv4> parseIp(std::string_view text, TextProblem* why = nullptr);

/// "00-0A-1B-C2-3D-FF": the form the windows show and the records keep.
std::string macText(const Mac& mac);

/// A MAC as operators paste it: aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff or
/// aabbccddeeff, in either case. Only the form is checked; see isCardMac.
std::optional<Mac> parseMac(std::string_view text);

/// A MAC a card can have: neither all zeros nor a group (multicast or broadcast) address.
bool isCardMac(const Mac& mac);

} // namespace bootp
