#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <span>

// Runs a classic BPF socket filter as the kernel does, for the statements the helper's
// filters use: loads (absolute, indexed by X, length), X from an IPv4 header's length,
// equality, order and bit-test jumps against constants, returns. A load beyond the packet
// ends the program with 0, as in the kernel.
namespace testing_support {

inline std::uint32_t runClassicBpf(std::span<const sock_filter> program,
                                   std::span<const std::uint8_t> packet)
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
