#include "Address.h"

#include <cstdio>

namespace assign {

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

} // namespace

std::optional<Ip> parseIp(std::string_view text, std::string& why)
{
    Ip ip = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                why = "'" + std::string(text) +
                      "' is not an IPv4 address (four numbers 0 to 255 "
                      "joined by dots)";
                return std::nullopt;
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
            why = "'" + std::string(text) +
                  "' is not an IPv4 address (four numbers 0 to 255 "
                  "joined by dots)";
            return std::nullopt;
        }
        if (digits > 1 && text[start] == '0') {
            why = "'" + std::string(text) + "' has a number with a leading zero (" +
                  std::string(text.substr(start, digits)) + "), which some tools read as octal";
            return std::nullopt;
        }
        if (value > 255) {
            why = "'" + std::string(text) + "' has a number above 255 (" + std::to_string(value) +
                  ")";
            return std::nullopt;
        }
        ip = (ip << 8) | value;
    }
    if (pos != text.size()) {
        why = "'" + std::string(text) +
              "' is not an IPv4 address (four numbers 0 to 255 joined "
              "by dots)";
        return std::nullopt;
    }
    return ip;
}

std::string ipText(Ip ip)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255,
                  ip & 255);
    return text;
}

std::optional<Mac> parseMac(std::string_view text, std::string& why)
{
    Mac mac{};
    const bool shaped = text.size() == 17 && (text[2] == '-' || text[2] == ':');
    for (std::size_t i = 0; shaped && i < 6; ++i) {
        const int hi = hexDigit(text[i * 3]);
        const int lo = hexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != text[2])) {
            break;
        }
        mac[i] = static_cast<std::uint8_t>(hi * 16 + lo);
        if (i == 5) {
            if (mac == Mac{}) {
                why = "MAC " + std::string(text) + " is all zeros";
                return std::nullopt;
            }
            if (mac[0] & 1) {
                why = "MAC " + std::string(text) + " is a multicast or broadcast address";
                return std::nullopt;
            }
            return mac;
        }
    }
    why = "'" + std::string(text) +
          "' is not a MAC address (six two-digit hexadecimal numbers joined by - or :)";
    return std::nullopt;
}

std::string macText(const Mac& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<int> maskPrefix(Ip mask)
{
    const Ip inverted = ~mask;
    // A contiguous mask inverted is 2^n - 1: adding one leaves no bit in common with it.
    if ((inverted & (inverted + 1)) != 0) {
        return std::nullopt;
    }
    int prefix = 0;
    for (Ip m = mask; m != 0; m <<= 1) {
        ++prefix;
    }
    return prefix;
}

const char* unicastProblem(Ip ip)
{
    const unsigned first = ip >> 24;
    if (first == 0) {
        return "lies in 0.0.0.0/8 (this network)";
    }
    if (first == 127) {
        return "is a loopback address";
    }
    if (first >= 224 && first <= 239) {
        return "is a multicast address";
    }
    if (first >= 240) {
        return "is a reserved or broadcast address";
    }
    return nullptr;
}

bool subnetEdge(Ip ip, Ip mask)
{
    // A /31 or /32 has no network or broadcast address (RFC 3021).
    if (~mask <= 1) {
        return false;
    }
    return (ip & ~mask) == 0 || (ip & ~mask) == ~mask;
}

std::string subnetText(Ip ip, Ip mask)
{
    const std::optional<int> prefix = maskPrefix(mask);
    return ipText(ip & mask) + "/" + (prefix ? std::to_string(*prefix) : ipText(mask));
}

std::optional<SettingsProblem> checkSettings(Ip ip, Ip mask, Ip gateway)
{
    using Field = SettingsProblem::Field;
    if (!maskPrefix(mask)) {
        return SettingsProblem{Field::Mask, "mask " + ipText(mask) +
                                                " is not contiguous (its "
                                                "one bits must come first)"};
    }
    if (mask == 0) {
        return SettingsProblem{Field::Mask, "mask 0.0.0.0 leaves no subnet"};
    }
    if (const char* problem = unicastProblem(ip)) {
        return SettingsProblem{Field::Address, "address " + ipText(ip) + " " + problem};
    }
    if (subnetEdge(ip, mask)) {
        const bool network = (ip & ~mask) == 0;
        return SettingsProblem{Field::Address, "address " + ipText(ip) + " is the " +
                                                   (network ? "network" : "broadcast") +
                                                   " address of " + subnetText(ip, mask)};
    }
    if (gateway == 0) {
        return std::nullopt;
    }
    if (const char* problem = unicastProblem(gateway)) {
        return SettingsProblem{Field::Gateway, "gateway " + ipText(gateway) + " " + problem};
    }
    if ((gateway & mask) != (ip & mask)) {
        return SettingsProblem{Field::Gateway, "gateway " + ipText(gateway) +
                                                   " lies outside the subnet " +
                                                   subnetText(ip, mask) + " of " + ipText(ip)};
    }
    if (gateway == ip) {
        return SettingsProblem{Field::Gateway,
                               "gateway " + ipText(gateway) + " is the card's own address"};
    }
    if (subnetEdge(gateway, mask)) {
        const bool network = (gateway & ~mask) == 0;
        return SettingsProblem{Field::Gateway, "gateway " + ipText(gateway) + " is the " +
                                                   (network ? "network" : "broadcast") +
                                                   " address of " + subnetText(ip, mask)};
    }
    return std::nullopt;
}

} // namespace assign
