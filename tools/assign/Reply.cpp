#include "Reply.h"

#include "BootMessage.h"

namespace assign {

namespace {

void putIp(std::vector<std::uint8_t>& m, std::size_t at, Ip ip)
{
    m[at] = static_cast<std::uint8_t>(ip >> 24);
    m[at + 1] = static_cast<std::uint8_t>(ip >> 16);
    m[at + 2] = static_cast<std::uint8_t>(ip >> 8);
    m[at + 3] = static_cast<std::uint8_t>(ip);
}

} // namespace

std::vector<std::uint8_t> cardReply(std::span<const std::uint8_t> request, Ip ip, Ip mask,
                                    Ip gateway, Ip server)
{
    if (request.size() < bootp::kTouchedEnd) {
        return {};
    }
    std::vector<std::uint8_t> m(request.begin(), request.end());
    m[bootp::kOp] = bootp::kBootReply;
    putIp(m, bootp::kYiaddr, ip);
    putIp(m, bootp::kSiaddr, server);
    std::size_t at = bootp::kReplyOptions;
    m[at++] = bootp::kOptSubnetMask;
    m[at++] = 4;
    putIp(m, at, mask);
    at += 4;
    m[at++] = bootp::kOptRouter;
    m[at++] = 4;
    putIp(m, at, gateway);
    at += 4;
    m[at++] = bootp::kOptEnd;
    static_assert(bootp::kReplyOptions + 13 == bootp::kTouchedEnd);
    return m;
}

Mac requestMac(std::span<const std::uint8_t> request)
{
    Mac mac{};
    for (std::size_t i = 0; i < mac.size() && bootp::kChaddr + i < request.size(); ++i) {
        mac[i] = request[bootp::kChaddr + i];
    }
    return mac;
}

} // namespace assign
