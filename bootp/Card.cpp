#include "Card.h"

#include <algorithm>
#include <array>

namespace bootp {

namespace {

Ipv4 at(std::span<const std::uint8_t> m, std::size_t offset)
{
    return {m[offset], m[offset + 1], m[offset + 2], m[offset + 3]};
}

} // namespace

bool isCardRequest(std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t, kTemplateSize> tmpl)
{
    if (message.size() < kTouchedEnd) {
        return false;
    }
    if (message[kOp] != kBootRequest) {
        return false;
    }
    const auto mac = message.subspan(kChaddr, kMacSize);
    if (std::all_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b == 0; })) {
        return false; // no hardware address to answer
    }
    // A relayed request did not come from a card on this segment.
    const auto giaddr = message.subspan(kGiaddr, 4);
    if (message[kHops] != 0 ||
        std::any_of(giaddr.begin(), giaddr.end(), [](std::uint8_t b) { return b != 0; })) {
        return false;
    }
    return std::equal(tmpl.begin(), tmpl.end(), message.begin() + kOptions);
}

Mac requestMac(std::span<const std::uint8_t> message)
{
    Mac mac{};
    if (message.size() >= kChaddr + kMacSize) {
        std::copy_n(message.begin() + kChaddr, kMacSize, mac.begin());
    }
    return mac;
}

bool writeReply(std::span<std::uint8_t> message, const Assignment& a)
{
    if (message.size() < kTouchedEnd) {
        return false;
    }
    message[kOp] = kBootReply;
    std::copy(a.ip.begin(), a.ip.end(), message.begin() + kYiaddr);
    std::copy(a.server.begin(), a.server.end(), message.begin() + kSiaddr);
    const std::array<std::uint8_t, kReplyOptionsSize> options{
        kOptSubnetMask, 4, a.mask[0],    a.mask[1],    a.mask[2],    a.mask[3],
        kOptRouter,     4, a.gateway[0], a.gateway[1], a.gateway[2], a.gateway[3],
        kOptEnd};
    std::copy(options.begin(), options.end(), message.begin() + kReplyOptions);
    return true;
}

std::vector<std::uint8_t> buildReply(std::span<const std::uint8_t> request, const Assignment& a)
{
    std::vector<std::uint8_t> reply(request.begin(), request.end());
    if (!writeReply(reply, a)) {
        return {};
    }
    return reply;
}

std::optional<Assignment> readReply(std::span<const std::uint8_t> request,
                                    std::span<const std::uint8_t> reply)
{
    if (reply.size() != request.size() || reply.size() < kTouchedEnd) {
        return std::nullopt;
    }
    const std::size_t o = kReplyOptions;
    const Assignment a{at(reply, kYiaddr), at(reply, o + 2), at(reply, o + 8), at(reply, kSiaddr)};
    // Rebuilding the reply from the request proves that nothing else was changed.
    const std::vector<std::uint8_t> expected = buildReply(request, a);
    if (!std::equal(expected.begin(), expected.end(), reply.begin(), reply.end())) {
        return std::nullopt;
    }
    return a;
}

} // namespace bootp
