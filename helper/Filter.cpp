#include "Filter.h"

#include "BootMessage.h"
#include "Protocol.h"

namespace helper {

namespace {

constexpr std::uint32_t word(unsigned i)
{
    const auto& t = bootp::kCardOptions;
    return std::uint32_t(t[i]) << 24 | std::uint32_t(t[i + 1]) << 16 |
           std::uint32_t(t[i + 2]) << 8 | t[i + 3];
}

constexpr unsigned payload(std::size_t offset)
{
    return kUdpHeader + static_cast<unsigned>(offset);
}

} // namespace

const std::array<sock_filter, 15>& cardRequestFilter()
{
    // Jump distances count the statements skipped: kDrop is the last statement, kKeep the one
    // before it.
    constexpr int kKeep = 13;
    constexpr int kDrop = 14;
    constexpr auto toDrop = [](int from) { return static_cast<std::uint8_t>(kDrop - from - 1); };
    const auto& t = bootp::kCardOptions;
    static const std::array<sock_filter, 15> program{{
        /* 0 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 0), // UDP source port
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bootp::kClientPort, 0, toDrop(1)),
        /* 2 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, payload(bootp::kMinMessage), 0, toDrop(3)),
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, payload(kMaxRequest), toDrop(4), 0),
        /* 5 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, payload(bootp::kOp)),
        /* 6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, bootp::kBootRequest, 0, toDrop(6)),
        /* 7 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, payload(bootp::kOptions)),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word(0), 0, toDrop(8)),
        /* 9 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, payload(bootp::kOptions + 4)),
        /* 10 */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(t[4]) << 8 | t[5], 0, toDrop(10)),
        /* 11 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, payload(bootp::kOptions + 6)),
        /* 12 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word(6), 0, toDrop(12)),
        /* 13 */ BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        /* 14 */ BPF_STMT(BPF_RET | BPF_K, 0),
    }};
    static_assert(kKeep + 1 == kDrop);
    return program;
}

} // namespace helper
