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

// payload as a packet socket reads it: an IPv4 header (no options unless optionWords), then a
// UDP header, both with right checksums, from source to destination.
inline std::vector<std::uint8_t>
ipv4Udp(const std::vector<std::uint8_t>& payload, std::uint16_t sourcePort = 68,
        std::uint16_t destinationPort = 67, std::array<std::uint8_t, 4> source = {0, 0, 0, 0},
        std::size_t optionWords = 0, std::array<std::uint8_t, 4> destination = {255, 255, 255, 255})
{
    const auto fold = [](std::uint32_t s) {
        while (s >> 16) {
            s = (s & 0xFFFF) + (s >> 16);
        }
        return static_cast<std::uint16_t>(~s);
    };
    const auto sum = [](const std::uint8_t* p, std::size_t n, std::uint32_t s) {
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            s += std::uint32_t(p[i]) << 8 | p[i + 1];
        }
        if (n % 2 != 0) {
            s += std::uint32_t(p[n - 1]) << 8;
        }
        return s;
    };
    const std::size_t ipLength = 20 + 4 * optionWords;
    const std::size_t udpLength = 8 + payload.size();
    const std::size_t total = ipLength + udpLength;
    std::vector<std::uint8_t> p(ipLength, 0);
    p[0] = static_cast<std::uint8_t>(0x40 | (ipLength / 4)); // version 4, header length
    p[2] = static_cast<std::uint8_t>(total >> 8);            // total length
    p[3] = static_cast<std::uint8_t>(total);
    p[8] = 64;                                                         // time to live
    p[9] = 17;                                                         // protocol: UDP
    std::copy(source.begin(), source.end(), p.begin() + 12);           // source address
    std::copy(destination.begin(), destination.end(), p.begin() + 16); // destination address
    const std::uint16_t headerSum = fold(sum(p.data(), ipLength, 0));
    p[10] = static_cast<std::uint8_t>(headerSum >> 8);
    p[11] = static_cast<std::uint8_t>(headerSum);
    const std::uint8_t udp[8] = {
        std::uint8_t(sourcePort >> 8),
        std::uint8_t(sourcePort),
        std::uint8_t(destinationPort >> 8),
        std::uint8_t(destinationPort),
        std::uint8_t(udpLength >> 8),
        std::uint8_t(udpLength),
        0,
        0, // checksum, below
    };
    p.insert(p.end(), std::begin(udp), std::end(udp));
    p.insert(p.end(), payload.begin(), payload.end());
    std::uint32_t pseudo = sum(p.data() + 12, 8, 0) + 17 + static_cast<std::uint32_t>(udpLength);
    std::uint16_t udpSum = fold(sum(p.data() + ipLength, udpLength, pseudo));
    if (udpSum == 0) {
        udpSum = 0xFFFF; // RFC 768: zero means no checksum
    }
    p[ipLength + 6] = static_cast<std::uint8_t>(udpSum >> 8);
    p[ipLength + 7] = static_cast<std::uint8_t>(udpSum);
    return p;
}

} // namespace testing_support
