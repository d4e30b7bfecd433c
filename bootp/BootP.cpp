#include "BootP.h"

#include "BootMessage.h"
#include "PublicArea.h"

#include <algorithm>
#include <array>

using namespace bootp;

bool chkRequest(std::span<const std::uint8_t> message)
{
    return chkRequest(message, PublicArea::G_OptTmpl);
}

bool chkRequest(std::span<const std::uint8_t> message, std::span<const std::uint8_t, 10> tmpl)
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
    if (message[kHops] != 0 || message[kGiaddr] != 0 || message[kGiaddr + 1] != 0 ||
        message[kGiaddr + 2] != 0 || message[kGiaddr + 3] != 0) {
        return false;
    }
    return std::equal(tmpl.begin(), tmpl.end(), message.begin() + kOptions);
}

void macText(std::span<const std::uint8_t> message)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string& text = PublicArea::G_MacAddr;
    text.clear();
    if (message.size() < kChaddr + kMacSize) {
        return;
    }
    for (std::size_t i = 0; i < kMacSize; ++i) {
        const std::uint8_t b = message[kChaddr + i];
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
        if (i + 1 < kMacSize) {
            text += '-';
        }
    }
}

bool makeReply(std::span<std::uint8_t> message)
{
    if (message.size() < kTouchedEnd) {
        return false;
    }
    using namespace PublicArea;
    message[kOp] = kBootReply;
    std::copy(G_IpAddr.begin(), G_IpAddr.end(), message.begin() + kYiaddr);
    std::copy(G_LocalIp.begin(), G_LocalIp.end(), message.begin() + kSiaddr);
    const std::array<std::uint8_t, kReplyOptionsSize> options{
        kOptSubnetMask, 4, G_SbMask[0],  G_SbMask[1],  G_SbMask[2],  G_SbMask[3],
        kOptRouter,     4, G_GateWay[0], G_GateWay[1], G_GateWay[2], G_GateWay[3],
        kOptEnd};
    std::copy(options.begin(), options.end(), message.begin() + kReplyOptions);
    return true;
}
