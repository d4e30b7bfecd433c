#include "Filter.h"

#include "BootMessage.h"
#include "Protocol.h"

#include <cstring>
#include <linux/if_arp.h>
#include <linux/if_packet.h>

namespace helper {

namespace {

constexpr unsigned kUdpHeader = 8;
constexpr std::uint8_t kUdp = 17;

constexpr std::uint32_t word(unsigned i)
{
    const auto& t = bootp::kCardOptions;
    return std::uint32_t(t[i]) << 24 | std::uint32_t(t[i + 1]) << 16 |
           std::uint32_t(t[i + 2]) << 8 | t[i + 3];
}

/// Offset of a boot message field from the UDP header, which X points at.
constexpr unsigned payload(std::size_t offset)
{
    return kUdpHeader + static_cast<unsigned>(offset);
}

/// Where a load finds one of the kernel's facts about the packet (SKF_AD_OFF is negative).
constexpr std::uint32_t ancillary(int fact)
{
    return static_cast<std::uint32_t>(SKF_AD_OFF + fact);
}

std::uint16_t get16(std::span<const std::uint8_t> p, std::size_t at)
{
    return static_cast<std::uint16_t>(p[at] << 8 | p[at + 1]);
}

/// The one's-complement sum of RFC 1071, folded.
std::uint32_t sum(std::span<const std::uint8_t> data, std::uint32_t start = 0)
{
    std::uint32_t s = start;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        s += get16(data, i);
    }
    if (data.size() % 2 != 0) {
        s += std::uint32_t(data.back()) << 8;
    }
    while (s >> 16) {
        s = (s & 0xFFFF) + (s >> 16);
    }
    return s;
}

} // namespace

const std::array<sock_filter, 30>& cardPacketFilter()
{
    // Jump distances count the statements skipped: kDrop is the last statement.
    constexpr int kDrop = 29;
    constexpr auto toDrop = [](int from) { return static_cast<std::uint8_t>(kDrop - from - 1); };
    const auto& t = bootp::kCardOptions;
    static const std::array<sock_filter, 30> program{{
        // What a card without an address sends: an Ethernet broadcast frame from 0.0.0.0 to
        // 255.255.255.255. The frame's facts come from the kernel, not from the packet.
        /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ancillary(SKF_AD_PKTTYPE)),
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_BROADCAST, 0, toDrop(1)),
        /* 2 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ancillary(SKF_AD_HATYPE)),
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPHRD_ETHER, 0, toDrop(3)),
        /* 4 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 12), // IPv4 source
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, toDrop(5)),
        /* 6 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 16), // IPv4 destination
        /* 7 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xFFFFFFFF, 0, toDrop(7)),
        /* 8 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9), // IPv4 protocol
        /* 9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kUdp, 0, toDrop(9)),
        /* 10 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6), // flags and fragment offset
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x3FFF, toDrop(11), 0), // MF or offset
        /* 12 */ BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // X = the IPv4 header's length
        /* 13 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 0),  // UDP source port
        /* 14 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bootp::kClientPort, 0, toDrop(14)),
        /* 15 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2), // UDP destination port
        /* 16 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bootp::kServerPort, 0, toDrop(16)),
        /* 17 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), // UDP length
        /* 18 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, payload(bootp::kMinMessage), 0, toDrop(18)),
        /* 19 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, payload(kMaxRequest), toDrop(19), 0),
        /* 20 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, payload(bootp::kOp)),
        /* 21 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bootp::kBootRequest, 0, toDrop(21)),
        /* 22 */ BPF_STMT(BPF_LD | BPF_W | BPF_IND, payload(bootp::kOptions)),
        /* 23 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word(0), 0, toDrop(23)),
        /* 24 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, payload(bootp::kOptions + 4)),
        /* 25 */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(t[4]) << 8 | t[5], 0, toDrop(25)),
        /* 26 */ BPF_STMT(BPF_LD | BPF_W | BPF_IND, payload(bootp::kOptions + 6)),
        /* 27 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word(6), 0, toDrop(27)),
        /* 28 */ BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        /* 29 */ BPF_STMT(BPF_RET | BPF_K, 0),
    }};
    return program;
}

bool cardFrame(unsigned packetType, unsigned hardwareType)
{
    return packetType == PACKET_BROADCAST && hardwareType == ARPHRD_ETHER;
}

const std::array<sock_filter, 1>& nothingFilter()
{
    static const std::array<sock_filter, 1> program{{BPF_STMT(BPF_RET | BPF_K, 0)}};
    return program;
}

std::optional<UdpDatagram> udpInIpv4(std::span<const std::uint8_t> p, bool checksumPending)
{
    if (p.size() < 20 || (p[0] >> 4) != 4) {
        return std::nullopt;
    }
    const std::size_t headerLength = std::size_t(p[0] & 0x0F) * 4;
    const std::size_t total = get16(p, 2);
    // Time to live 0 is never sent by a host (RFC 1122, 3.2.1.7): no card's packet.
    if (headerLength < 20 || total < headerLength + kUdpHeader || total > p.size() || p[8] == 0 ||
        p[9] != kUdp || (get16(p, 6) & 0x3FFF) != 0 || sum(p.first(headerLength)) != 0xFFFF) {
        return std::nullopt;
    }
    const auto udp = p.subspan(headerLength, total - headerLength);
    const std::size_t udpLength = get16(udp, 4);
    if (udpLength < kUdpHeader || udpLength > udp.size()) {
        return std::nullopt;
    }
    const auto datagram = udp.first(udpLength);
    if (get16(udp, 6) != 0 && !checksumPending) {
        // RFC 768: the pseudo header (addresses, protocol, length), then the datagram.
        std::uint32_t pseudo = sum(p.subspan(12, 8));
        pseudo += kUdp + static_cast<std::uint32_t>(udpLength);
        if (sum(datagram, pseudo) != 0xFFFF) {
            return std::nullopt;
        }
    }
    UdpDatagram d;
    std::memcpy(d.source, p.data() + 12, 4);
    std::memcpy(d.destination, p.data() + 16, 4);
    d.sourcePort = get16(udp, 0);
    d.destinationPort = get16(udp, 2);
    d.payload = datagram.subspan(kUdpHeader);
    return d;
}

} // namespace helper
