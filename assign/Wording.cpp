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

std::optional<Ip> parseIp(std::string_view text, text::Twin& why)
{
    bootp::TextProblem problem = bootp::TextProblem::Shape;
    const std::optional<bootp::Ipv4> ip = bootp::parseIp(text, &problem);
    if (ip) {
        return bootp::toValue(*ip);
    }
    const std::string quoted(text);
    switch (problem) {
    case bootp::TextProblem::LeadingZero:
        why = text::twin(text::Id::AssignErrLeadingZero, {quoted, offendingPart(text, problem)});
        break;
    case bootp::TextProblem::Range:
        why = text::twin(text::Id::AssignErrAbove255, {quoted, offendingPart(text, problem)});
        break;
    case bootp::TextProblem::Shape:
        why = text::twin(text::Id::AssignErrNotIp, {quoted});
        break;
    }
    return std::nullopt;
}

std::optional<Mac> parseMac(std::string_view text, text::Twin& why)
{
    const std::optional<Mac> mac = bootp::parseMac(text);
    if (!mac) {
        why = text::twin(text::Id::AssignErrNotMac, {std::string(text)});
        return std::nullopt;
    }
    if (!bootp::isCardMac(*mac)) {
        why = text::twin(*mac == Mac{} ? text::Id::AssignErrMacZero : text::Id::AssignErrMacGroup,
                         {macText(*mac)});
        return std::nullopt;
    }
    return mac;
}

text::Id addressProblemText(bootp::AddressProblem problem)
{
    switch (problem) {
    case bootp::AddressProblem::ThisNetwork:
        return text::Id::AssignErrThisNetwork;
    case bootp::AddressProblem::Loopback:
        return text::Id::AssignErrLoopback;
    case bootp::AddressProblem::Multicast:
        return text::Id::AssignErrMulticast;
    case bootp::AddressProblem::Reserved:
        return text::Id::AssignErrReserved;
    case bootp::AddressProblem::NetworkAddress:
        return text::Id::AssignErrNetworkAddress;
    case bootp::AddressProblem::BroadcastAddress:
        return text::Id::AssignErrBroadcastAddress;
    }
    return text::Id::AssignErrNotHost;
}

text::Twin placed(const std::string& place, const text::Twin& problem)
{
    return {place + problem.japanese, place + problem.english};
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
    const text::Twin what = text::twin(
        problem->field == Field::Gateway ? text::Id::AssignErrGateway : text::Id::AssignErrAddress,
        {ipText(which)});
    text::Twin said;
    switch (problem->kind) {
    case Kind::MaskHoles:
        said = text::twin(text::Id::AssignErrMaskHoles, {ipText(mask)});
        break;
    case Kind::MaskZero:
        said = text::twin(text::Id::AssignErrMaskZero);
        break;
    case Kind::OutsideSubnet:
        said =
            text::twin(text::Id::AssignErrOutsideSubnet, {what, subnetText(ip, mask), ipText(ip)});
        break;
    case Kind::CardsAddress:
        said = text::twin(text::Id::AssignErrCardsOwn, {what});
        break;
    case Kind::Unfit:
        if (problem->address == bootp::AddressProblem::NetworkAddress) {
            said = text::twin(text::Id::AssignErrNetworkOf, {what, subnetText(ip, mask)});
        } else if (problem->address == bootp::AddressProblem::BroadcastAddress) {
            said = text::twin(text::Id::AssignErrBroadcastOf, {what, subnetText(ip, mask)});
        } else {
            said = text::twin(addressProblemText(problem->address), {what});
        }
        break;
    }
    return SettingsProblem{problem->field, said};
}

} // namespace assign
