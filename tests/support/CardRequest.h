#pragma once

#include "BootMessage.h"

#include <array>
#include <cstdint>
#include <vector>

namespace testing_support {

// A card's boot request, byte by byte, with each field that matters set where the card puts
// it; tests then break one field at a time.
inline std::vector<std::uint8_t> cardRequest(std::size_t length = 300,
                                             std::array<std::uint8_t, 6> mac = {0x00, 0x0A, 0x1B,
                                                                                0xC2, 0x3D, 0xFF})
{
    std::vector<std::uint8_t> m(length, 0);
    const std::uint8_t head[] = {
        0x01,                   // op: BOOTREQUEST
        0x01,                   // htype: Ethernet
        0x06,                   // hlen: 6
        0x00,                   // hops: straight from the card
        0x12, 0x34, 0x56, 0x78, // xid
        0x00, 0x04,             // secs
        0x80, 0x00,             // flags: broadcast
    };
    std::copy(std::begin(head), std::end(head), m.begin());
    std::copy(mac.begin(), mac.end(), m.begin() + bootp::kChaddr); // chaddr, first six bytes
    const std::uint8_t options[] = {
        99,  130, 83,  99,  // magic cookie
        61,  4,             // client identifier, length 4
        'k', 'a', 'v', 'o', // the card's vendor tag
        255,                // end: the card's own, which the reply overwrites
    };
    if (length >= bootp::kOptions + sizeof options) {
        std::copy(std::begin(options), std::end(options), m.begin() + bootp::kOptions);
    }
    for (std::size_t i = bootp::kTouchedEnd; i < length; ++i) {
        m[i] = static_cast<std::uint8_t>(i * 7 + 3); // padding the reply must keep as it is
    }
    return m;
}

// Another client's DHCPDISCOVER: op 1, a MAC, then the cookie and option 53 first.
inline std::vector<std::uint8_t> foreignDiscover(std::size_t length = 300)
{
    std::vector<std::uint8_t> m(length, 0);
    m[bootp::kOp] = 1;
    m[bootp::kHtype] = 1;
    m[bootp::kHlen] = 6;
    const std::uint8_t mac[] = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    std::copy(std::begin(mac), std::end(mac), m.begin() + bootp::kChaddr);
    const std::uint8_t options[] = {
        99,  130, 83, 99, // magic cookie
        53,  1,   1,      // DHCP message type: DISCOVER
        255,              // end
    };
    std::copy(std::begin(options), std::end(options), m.begin() + bootp::kOptions);
    return m;
}

} // namespace testing_support
