#include "Temporary.h"

#include <algorithm>

namespace bootp {

namespace {

/// The subnet's hosts as numbers, first and last; a /31 has two and a /32 one (RFC 3021).
struct HostRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

HostRange hostRange(const CardSettings& card)
{
    const std::uint32_t mask = toValue(card.mask);
    const std::uint32_t network = toValue(card.ip) & mask;
    const std::uint32_t broadcast = network | ~mask;
    if (broadcast - network < 2) {
        return {network, broadcast};
    }
    return {network + 1, broadcast - 1};
}

} // namespace

std::optional<TemporaryProblem> temporaryProblem(const Ipv4& candidate, const CardSettings& card,
                                                 const HostFacts& host)
{
    const std::uint32_t mask = toValue(card.mask);
    if ((toValue(candidate) & mask) != (toValue(card.ip) & mask)) {
        return TemporaryProblem::OutsideSubnet;
    }
    if (unicastProblem(candidate) || subnetEdge(candidate, card.mask)) {
        return TemporaryProblem::NotHost;
    }
    if (candidate == card.ip) {
        return TemporaryProblem::CardsAddress;
    }
    if (candidate == card.gateway) {
        return TemporaryProblem::CardsGateway;
    }
    if (clashWithHost(candidate, host)) {
        return TemporaryProblem::ThisPc;
    }
    return std::nullopt;
}

std::optional<Ipv4> nextTemporary(const CardSettings& card, const HostFacts& host,
                                  const std::optional<Ipv4>& after)
{
    if (checkSettings(card.ip, card.mask, card.gateway)) {
        return std::nullopt;
    }
    const HostRange hosts = hostRange(card);
    std::uint32_t value = hosts.last;
    if (after) {
        if (temporaryProblem(*after, card, host) == TemporaryProblem::OutsideSubnet ||
            toValue(*after) <= hosts.first) {
            return std::nullopt;
        }
        value = std::min(toValue(*after) - 1, hosts.last);
    }
    // Only the card, its gateway and this PC's few addresses are skipped: the walk is short.
    for (;; --value) {
        if (!temporaryProblem(fromValue(value), card, host)) {
            return fromValue(value);
        }
        if (value == hosts.first) {
            return std::nullopt;
        }
    }
}

} // namespace bootp
