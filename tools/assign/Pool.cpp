#include "Pool.h"

namespace assign {

std::optional<PoolRange> parsePool(std::string_view text, std::string& why)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        why = "'" + std::string(text) + "' is not a range like 10.0.0.101-10.0.0.140";
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
        why = "the range " + std::string(text) + " ends before it starts";
        return std::nullopt;
    }
    return PoolRange{*first, *last};
}

std::string poolText(const PoolRange& range)
{
    return ipText(range.first) + "-" + ipText(range.last);
}

std::string poolProblem(const PoolRange& range, Ip mask, Ip gateway)
{
    if (!bootp::maskPrefix(octets(mask))) {
        return "mask " + ipText(mask) + " is not contiguous (its one bits must come first)";
    }
    if ((range.first & mask) != (range.last & mask)) {
        return "the range " + poolText(range) + " spans more than one subnet of mask " +
               ipText(mask);
    }
    for (Ip ip : {range.first, range.last}) {
        if (const auto problem = bootp::unicastProblem(octets(ip))) {
            return "address " + ipText(ip) + " " + addressProblemText(*problem);
        }
    }
    if (range.first >> 24 < 127 && range.last >> 24 > 127) {
        return "the range " + poolText(range) + " spans the loopback block 127.0.0.0/8";
    }
    if (range.first >> 24 < 224 && range.last >> 24 >= 224) {
        return "the range " + poolText(range) + " reaches into the multicast block";
    }
    if (mask == 0) {
        return "mask 0.0.0.0 leaves no subnet";
    }
    for (Ip ip : {range.first, range.last}) {
        if (const auto edge = bootp::subnetEdge(octets(ip), octets(mask))) {
            const bool network = *edge == bootp::AddressProblem::NetworkAddress;
            return "the range " + poolText(range) + " holds the " +
                   (network ? "network" : "broadcast") + " address " + ipText(ip) + " of " +
                   subnetText(ip, mask);
        }
    }
    if (gateway != 0 && gateway >= range.first && gateway <= range.last) {
        return "the range " + poolText(range) + " holds the gateway " + ipText(gateway);
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
