#pragma once

#include <linux/filter.h>
#include <linux/if_arp.h>
#include <linux/if_packet.h>

#include <cstdint>
#include <span>

// Runs a classic BPF socket filter as the kernel does, for the statements the helper's
// filters use: loads (absolute, indexed by X, length), X from an IPv4 header's length,
// equality, order and bit-test jumps against constants, returns, and the kernel's facts about
// the frame (SKF_AD_PKTTYPE, SKF_AD_HATYPE). A load beyond the packet ends the program with 0,
// as in the kernel.
namespace testing_support {

/// What the kernel knows of a packet beside its bytes; by default a card's Ethernet broadcast.
struct FrameFacts {
    std::uint32_t packetType = PACKET_BROADCAST;
    std::uint32_t hardwareType = ARPHRD_ETHER;
};

inline std::uint32_t runClassicBpf(std::span<const sock_filter> program,
                                   std::span<const std::uint8_t> packet, FrameFacts frame = {})
{
    std::uint32_t a = 0;
    std::uint32_t x = 0;
    for (std::size_t pc = 0; pc < program.size(); ++pc) {
        const sock_filter& s = program[pc];
        const auto load = [&](std::size_t size, std::size_t base) -> bool {
            const std::size_t at = base + s.k;
            if (at + size > packet.size()) {
                return false;
            }
            a = 0;
            for (std::size_t i = 0; i < size; ++i) {
                a = a << 8 | packet[at + i];
            }
            return true;
        };
        if (s.code == (BPF_LD | BPF_W | BPF_ABS) && s.k >= std::uint32_t(SKF_AD_OFF)) {
            if (s.k == std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE)) {
                a = frame.packetType;
            } else if (s.k == std::uint32_t(SKF_AD_OFF + SKF_AD_HATYPE)) {
                a = frame.hardwareType;
            } else {
                return 0xDEAD;
            }
            continue;
        }
        switch (s.code) {
        case BPF_LD | BPF_W | BPF_ABS:
        case BPF_LD | BPF_W | BPF_IND:
            if (!load(4, BPF_MODE(s.code) == BPF_IND ? x : 0)) {
                return 0;
            }
            break;
        case BPF_LD | BPF_H | BPF_ABS:
        case BPF_LD | BPF_H | BPF_IND:
            if (!load(2, BPF_MODE(s.code) == BPF_IND ? x : 0)) {
                return 0;
            }
            break;
        case BPF_LD | BPF_B | BPF_ABS:
        case BPF_LD | BPF_B | BPF_IND:
            if (!load(1, BPF_MODE(s.code) == BPF_IND ? x : 0)) {
                return 0;
            }
            break;
        case BPF_LDX | BPF_B | BPF_MSH:
            if (s.k >= packet.size()) {
                return 0;
            }
            x = 4u * (packet[s.k] & 0x0Fu);
            break;
        case BPF_JMP | BPF_JSET | BPF_K:
            pc += (a & s.k) != 0 ? s.jt : s.jf;
            break;
        case BPF_LD | BPF_W | BPF_LEN:
            a = static_cast<std::uint32_t>(packet.size());
            break;
        case BPF_JMP | BPF_JEQ | BPF_K:
            pc += a == s.k ? s.jt : s.jf;
            break;
        case BPF_JMP | BPF_JGE | BPF_K:
            pc += a >= s.k ? s.jt : s.jf;
            break;
        case BPF_JMP | BPF_JGT | BPF_K:
            pc += a > s.k ? s.jt : s.jf;
            break;
        case BPF_RET | BPF_K:
            return s.k;
        default:
            return 0xDEAD; // a statement this runner does not know: the test must notice
        }
    }
    return 0;
}

} // namespace testing_support
