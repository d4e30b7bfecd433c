#include "Rules.h"

#include <algorithm>

namespace bootp {

std::optional<int> maskPrefix(const Ipv4& mask)
{
    const std::uint32_t inverted = ~toValue(mask);
    // A contiguous mask inverted is 2^n - 1: adding one leaves no bit in common with it.
    if ((inverted & (inverted + 1)) != 0) {
        return std::nullopt;
    }
    int prefix = 0;
    for (std::uint32_t m = toValue(mask); m != 0; m <<= 1) {
        ++prefix;
    }
    return prefix;
}

std::optional<AddressProblem> unicastProblem(const Ipv4& ip)
{
    if (ip[0] == 0) {
        return AddressProblem::ThisNetwork;
    }
    if (ip[0] == 127) {
        return AddressProblem::Loopback;
    }
    if (ip[0] >= 224 && ip[0] <= 239) {
        return AddressProblem::Multicast;
    }
    if (ip[0] >= 240) {
        return AddressProblem::Reserved;
    }
    return std::nullopt;
}

std::optional<AddressProblem> subnetEdge(const Ipv4& ip, const Ipv4& mask)
{
    const std::uint32_t host = ~toValue(mask);
    if (host <= 1) {
        return std::nullopt;
    }
    const std::uint32_t part = toValue(ip) & host;
    if (part == 0) {
        return AddressProblem::NetworkAddress;
    }
    if (part == host) {
        return AddressProblem::BroadcastAddress;
    }
    return std::nullopt;
}

std::optional<SettingsProblem> checkSettings(const Ipv4& ip, const Ipv4& mask, const Ipv4& gateway)
{
    using Field = SettingsProblem::Field;
    using Kind = SettingsProblem::Kind;
    if (!maskPrefix(mask)) {
        return SettingsProblem{Field::Mask, Kind::MaskHoles};
    }
    if (toValue(mask) == 0) {
        return SettingsProblem{Field::Mask, Kind::MaskZero};
    }
    if (const auto p = unicastProblem(ip)) {
        return SettingsProblem{Field::Address, Kind::Unfit, *p};
    }
    if (const auto p = subnetEdge(ip, mask)) {
        return SettingsProblem{Field::Address, Kind::Unfit, *p};
    }
    if (toValue(gateway) == 0) {
        return std::nullopt;
    }
    if (const auto p = unicastProblem(gateway)) {
        return SettingsProblem{Field::Gateway, Kind::Unfit, *p};
    }
    if ((toValue(gateway) & toValue(mask)) != (toValue(ip) & toValue(mask))) {
        return SettingsProblem{Field::Gateway, Kind::OutsideSubnet};
    }
    if (gateway == ip) {
        return SettingsProblem{Field::Gateway, Kind::CardsAddress};
    }
    if (const auto p = subnetEdge(gateway, mask)) {
        return SettingsProblem{Field::Gateway, Kind::Unfit, *p};
    }
    return std::nullopt;
}

std::optional<HostClash> clashWithHost(const Ipv4& ip, const HostFacts& host)
{
    for (const HostFacts::Address& local : host.addresses) {
        if (local.ip == ip) {
            return HostClash::LocalAddress;
        }
        if (subnetEdge(ip, fromValue(prefixMask(local.prefix))) &&
            (toValue(ip) & prefixMask(local.prefix)) ==
                (toValue(local.ip) & prefixMask(local.prefix))) {
            return HostClash::SubnetEdge;
        }
    }
    if (std::find(host.gateways.begin(), host.gateways.end(), ip) != host.gateways.end()) {
        return HostClash::Gateway;
    }
    return std::nullopt;
}

bool isAddressOf(const Ipv4& ip, int ifindex, const HostFacts& host)
{
    return std::any_of(
        host.addresses.begin(), host.addresses.end(),
        [&](const HostFacts::Address& a) { return a.ip == ip && a.ifindex == ifindex; });
}

} // namespace bootp
