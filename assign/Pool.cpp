#include "Pool.h"

namespace assign {

std::optional<PoolRange> parsePool(std::string_view text, text::Twin& why)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        why = text::twin(text::Id::AssignErrNotRange, {std::string(text)});
        return std::nullopt;
    }
    const auto first = parseIp(text.substr(0, dash), why);
    if (!first) {
        return std::nullopt;
    }
    const auto last = parseIp(text.substr(dash + 1), why);
    if (!last) {
        return std::nullopt;
    }
    if (*last < *first) {
        why = text::twin(text::Id::AssignErrRangeBackwards, {std::string(text)});
        return std::nullopt;
    }
    return PoolRange{*first, *last};
}

std::string poolText(const PoolRange& range)
{
    return ipText(range.first) + "-" + ipText(range.last);
}

text::Twin poolProblem(const PoolRange& range, Ip mask, Ip gateway)
{
    if (!bootp::maskPrefix(octets(mask))) {
        return text::twin(text::Id::AssignErrMaskHoles, {ipText(mask)});
    }
    if ((range.first & mask) != (range.last & mask)) {
        return text::twin(text::Id::AssignErrRangeSubnets, {poolText(range), ipText(mask)});
    }
    for (Ip ip : {range.first, range.last}) {
        if (const auto problem = bootp::unicastProblem(octets(ip))) {
            return text::twin(addressProblemText(*problem),
                              {text::twin(text::Id::AssignErrAddress, {ipText(ip)})});
        }
    }
    if (range.first >> 24 < 127 && range.last >> 24 > 127) {
        return text::twin(text::Id::AssignErrRangeLoopback, {poolText(range)});
    }
    if (range.first >> 24 < 224 && range.last >> 24 >= 224) {
        return text::twin(text::Id::AssignErrRangeMulticast, {poolText(range)});
    }
    if (mask == 0) {
        return text::twin(text::Id::AssignErrMaskZero);
    }
    for (Ip ip : {range.first, range.last}) {
        if (const auto edge = bootp::subnetEdge(octets(ip), octets(mask))) {
            const bool network = *edge == bootp::AddressProblem::NetworkAddress;
            return text::twin(network ? text::Id::AssignErrRangeNetwork
                                      : text::Id::AssignErrRangeBroadcast,
                              {poolText(range), ipText(ip), subnetText(ip, mask)});
        }
    }
    if (gateway != 0 && gateway >= range.first && gateway <= range.last) {
        return text::twin(text::Id::AssignErrRangeGateway, {poolText(range), ipText(gateway)});
    }
    if (const auto problem = checkSettings(range.first, mask, gateway)) {
        if (problem->field != SettingsProblem::Field::Address) {
            return problem->text;
        }
    }
    return {};
}

void Pool::continueAfter(Ip ip)
{
    if (ip >= m_range.first && static_cast<std::uint64_t>(ip) + 1 > m_next) {
        m_next = static_cast<std::uint64_t>(ip) + 1;
    }
}

std::optional<Ip> Pool::take()
{
    if (!m_returned.empty()) {
        const Ip ip = *m_returned.begin();
        m_returned.erase(m_returned.begin());
        return ip;
    }
    while (m_next <= m_range.last) {
        const Ip ip = static_cast<Ip>(m_next++);
        if (!m_reserved.contains(ip)) {
            return ip;
        }
    }
    return std::nullopt;
}

} // namespace assign
