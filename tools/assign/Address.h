#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// IPv4 addresses, masks and MACs as the operator writes them, and the rules a card's settings
// must follow. Addresses are held in host byte order so that subnets are plain arithmetic.
namespace assign {

using Ip = std::uint32_t;
using Mac = std::array<std::uint8_t, 6>;

/// Dotted quad, four decimal numbers 0 to 255; a leading zero is refused because some tools
/// read it as octal. On failure why says what is wrong.
std::optional<Ip> parseIp(std::string_view text, std::string& why);
std::string ipText(Ip ip);

/// Six two-digit hexadecimal numbers joined by "-" or ":" (either case). A multicast or
/// all-zero MAC is refused: no card sends one.
std::optional<Mac> parseMac(std::string_view text, std::string& why);
/// 00-0A-1B-C2-3D-FF, as the windows show it.
std::string macText(const Mac& mac);

/// The prefix length of a contiguous mask; nullopt when the mask has holes.
std::optional<int> maskPrefix(Ip mask);

/// Why ip cannot be a host's address (this network, loopback, multicast, reserved), or null.
const char* unicastProblem(Ip ip);

/// Which of a card's three settings is wrong, and why.
struct SettingsProblem {
    enum class Field { Address, Mask, Gateway };
    Field field;
    std::string text;
};

/// The rules the helper applies to a reply, checked before anything is sent: a contiguous,
/// non-zero mask; a unicast host address that is neither the network nor the broadcast
/// address of its subnet; a gateway of 0.0.0.0 (none) or another host inside that subnet.
std::optional<SettingsProblem> checkSettings(Ip ip, Ip mask, Ip gateway);

/// True when ip is the network or broadcast address of the subnet that mask gives it.
bool subnetEdge(Ip ip, Ip mask);

/// "10.0.0.0/24".
std::string subnetText(Ip ip, Ip mask);

} // namespace assign
