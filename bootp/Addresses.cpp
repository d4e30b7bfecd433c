#include "Addresses.h"

#include <algorithm>
#include <cstdio>

namespace bootp {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// Reads hex digit pairs from text into mac, skipping a separator at each position in
/// `separators` (offsets into text); false when anything else is found.
bool readHex(std::string_view text, std::string_view separators, char separator, Mac& mac)
{
    std::size_t digit = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (separators.find(static_cast<char>(i)) != std::string_view::npos) {
            if (text[i] != separator) {
                return false;
            }
            continue;
        }
        const int v = hexDigit(text[i]);
        if (v < 0 || digit >= 12) {
            return false;
        }
        mac[digit / 2] = static_cast<std::uint8_t>(digit % 2 == 0 ? v << 4 : mac[digit / 2] | v);
        ++digit;
    }
    return digit == 12;
}

} // namespace

std::uint32_t toValue(const Ipv4& ip)
{
    return std::uint32_t(ip[0]) << 24 | std::uint32_t(ip[1]) << 16 | std::uint32_t(ip[2]) << 8 |
           ip[3];
}

Ipv4 fromValue(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint32_t prefixMask(int prefix)
{
    return prefix <= 0 ? 0 : prefix >= 32 ? ~std::uint32_t(0) : ~(~std::uint32_t(0) >> prefix);
}

std::string ipText(const Ipv4& ip)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::optional<Ipv4> parseIp(std::string_view text, TextProblem* why)
{
    auto fail = [why](TextProblem p) -> std::optional<Ipv4> {
        if (why != nullptr) {
            *why = p;
        }
        return std::nullopt;
    };
    Ipv4 ip{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < ip.size(); ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return fail(TextProblem::Shape);
            }
            ++pos;
        }
        const std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        const std::size_t digits = pos - start;
        if (digits == 0 || digits > 3) {
            return fail(TextProblem::Shape);
        }
        if (digits > 1 && text[start] == '0') {
            return fail(TextProblem::LeadingZero);
        }
        if (value > 255) {
            return fail(TextProblem::Range);
        }
        ip[part] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size()) {
        return fail(TextProblem::Shape);
    }
    return ip;
}

std::string macText(const Mac& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<Mac> parseMac(std::string_view text)
{
    Mac mac{};
    bool ok = false;
    if (text.size() == 17 && (text[2] == ':' || text[2] == '-')) {
        ok = readHex(text, {"\x02\x05\x08\x0b\x0e", 5}, text[2], mac);
    } else if (text.size() == 14) {
        ok = readHex(text, {"\x04\x09", 2}, '.', mac);
    } else if (text.size() == 12) {
        ok = readHex(text, {}, 0, mac);
    }
    return ok ? std::optional<Mac>(mac) : std::nullopt;
}

bool isCardMac(const Mac& mac)
{
    return (mac[0] & 1) == 0 && std::any_of(mac.begin(), mac.end(), [](auto b) { return b != 0; });
}

} // namespace bootp
