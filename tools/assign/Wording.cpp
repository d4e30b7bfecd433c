#include "Wording.h"

#include <algorithm>

namespace assign {

namespace {

/// The first dotted part of text that breaks the rule bootp named, to quote it.
std::string offendingPart(std::string_view text, bootp::TextProblem problem)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, dot - start);
        const bool leadingZero = part.size() > 1 && part[0] == '0';
        const bool above = part.size() > 3 || (part.size() == 3 && part > "255");
        if ((problem == bootp::TextProblem::LeadingZero && leadingZero) ||
            (problem == bootp::TextProblem::Range && above && !leadingZero)) {
            return std::string(part);
        }
        start = dot + 1;
    }
    return {};
}

} // namespace

std::string ipText(Ip ip)
{
    return bootp::ipText(octets(ip));
}

std::optional<Ip> parseIp(std::string_view text, std::string& why)
{
    bootp::TextProblem problem = bootp::TextProblem::Shape;
    const std::optional<bootp::Ipv4> ip = bootp::parseIp(text, &problem);
    if (ip) {
        return bootp::toValue(*ip);
    }
    const std::string quoted = "'" + std::string(text) + "'";
    switch (problem) {
    case bootp::TextProblem::LeadingZero:
        why = quoted + " has a number with a leading zero (" + offendingPart(text, problem) +
              "), which some tools read as octal";
        break;
    case bootp::TextProblem::Range:
        why = quoted + " has a number above 255 (" + offendingPart(text, problem) + ")";
        break;
    case bootp::TextProblem::Shape:
        why = quoted + " is not an IPv4 address (four numbers 0 to 255 joined by dots)";
        break;
    }
    return std::nullopt;
}

std::optional<Mac> parseMac(std::string_view text, std::string& why)
{
    const std::optional<Mac> mac = bootp::parseMac(text);
    if (!mac) {
        why = "'" + std::string(text) +
              "' is not a MAC address (write 00-0A-1B-C2-3D-FF, 00:0a:1b:c2:3d:ff, "
              "000a.1bc2.3dff or 000a1bc23dff)";
        return std::nullopt;
    }
    if (!bootp::isCardMac(*mac)) {
        why = "MAC " + macText(*mac) +
              (*mac == Mac{} ? " is all zeros" : " is a multicast or broadcast address");
        return std::nullopt;
    }
    return mac;
}

const char* addressProblemText(bootp::AddressProblem problem)
{
    switch (problem) {
    case bootp::AddressProblem::ThisNetwork:
        return "lies in 0.0.0.0/8 (this network)";
    case bootp::AddressProblem::Loopback:
        return "is a loopback address";
    case bootp::AddressProblem::Multicast:
        return "is a multicast address";
    case bootp::AddressProblem::Reserved:
        return "is a reserved or broadcast address";
    case bootp::AddressProblem::NetworkAddress:
        return "is the network address";
    case bootp::AddressProblem::BroadcastAddress:
        return "is the broadcast address";
    }
    return "is not a host address";
}

std::string subnetText(Ip ip, Ip mask)
{
    const std::optional<int> prefix = bootp::maskPrefix(octets(mask));
    return ipText(ip & mask) + "/" + (prefix ? std::to_string(*prefix) : ipText(mask));
}

std::optional<SettingsProblem> checkSettings(Ip ip, Ip mask, Ip gateway)
{
    const auto problem = bootp::checkSettings(octets(ip), octets(mask), octets(gateway));
    if (!problem) {
        return std::nullopt;
    }
    using Field = bootp::SettingsProblem::Field;
    using Kind = bootp::SettingsProblem::Kind;
    const Ip which = problem->field == Field::Gateway ? gateway : ip;
    const std::string what =
        (problem->field == Field::Gateway ? "gateway " : "address ") + ipText(which);
    std::string text;
    switch (problem->kind) {
    case Kind::MaskHoles:
        text = "mask " + ipText(mask) + " is not contiguous (its one bits must come first)";
        break;
    case Kind::MaskZero:
        text = "mask 0.0.0.0 leaves no subnet";
        break;
    case Kind::OutsideSubnet:
        text = what + " lies outside the subnet " + subnetText(ip, mask) + " of " + ipText(ip);
        break;
    case Kind::CardsAddress:
        text = what + " is the card's own address";
        break;
    case Kind::Unfit:
        text = what + " " + addressProblemText(problem->address);
        if (problem->address == bootp::AddressProblem::NetworkAddress ||
            problem->address == bootp::AddressProblem::BroadcastAddress) {
            text += " of " + subnetText(ip, mask);
        }
        break;
    }
    return SettingsProblem{problem->field, text};
}

} // namespace assign
