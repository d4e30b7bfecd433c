#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <span>

// Runs a classic BPF socket filter as the kernel does, for the statements the helper's
// filter uses: loads (absolute, length), equality and order jumps against constants, returns.
// A load beyond the packet ends the program with 0, as in the kernel.
namespace testing_support {

inline std::uint32_t runClassicBpf(std::span<const sock_filter> program,
                                   std::span<const std::uint8_t> packet)
{
    std::uint32_t a = 0;
    for (std::size_t pc = 0; pc < program.size(); ++pc) {
        const sock_filter& s = program[pc];
        const auto load = [&](std::size_t size) -> bool {
            if (s.k + size > packet.size()) {
                return false;
            }
            a = 0;
            for (std::size_t i = 0; i < size; ++i) {
                a = a << 8 | packet[s.k + i];
            }
            return true;
        };
        switch (s.code) {
        case BPF_LD | BPF_W | BPF_ABS:
            if (!load(4)) {
                return 0;
            }
            break;
        case BPF_LD | BPF_H | BPF_ABS:
            if (!load(2)) {
                return 0;
            }
            break;
        case BPF_LD | BPF_B | BPF_ABS:
            if (!load(1)) {
                return 0;
            }
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
