#include "SystemCalls.h"

#include "Protocol.h"

#include <cstddef>
#include <linux/audit.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>

namespace helper {

namespace {

// The system-call numbers below are those of the architecture the helper is built for.
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
#error "torvane-helper has a system-call filter for x86_64 and aarch64 only"
#endif

// What every process of the helper needs to live: memory, time, signals' return, the end.
#define TORVANE_COMMON_CALLS                                                                       \
    {SYS_brk}, {SYS_mmap}, {SYS_munmap}, {SYS_mremap}, {SYS_madvise}, {SYS_futex},                 \
        {SYS_clock_gettime}, {SYS_rt_sigreturn}, {SYS_exit}, {SYS_exit_group}, {SYS_getpid},       \
        {SYS_gettid}, {SYS_close}, {SYS_read}, {SYS_recvfrom},                                     \
    {                                                                                              \
        SYS_recvmsg                                                                                \
    }

constexpr AllowedCall kListener[] = {
    TORVANE_COMMON_CALLS,
    {SYS_ppoll},
#ifdef SYS_poll
    {SYS_poll}, // glibc's poll() on architectures that still have the call
#endif
    {SYS_ioctl, 1, SIOCGIFNAME},
    {SYS_ioctl, 1, SIOCGIFFLAGS},
    {SYS_write, 0, 2},               // stderr; sends are allowed per descriptor in listenerCalls
    {SYS_recvmmsg},                  // the card requests a burst queued, in one call
    {SYS_getsockopt, 1, SOL_PACKET}, // the packet socket's counters, at the end of a search
};

// The writer's link, its rtnetlink socket, and the packet socket of its ARP probe.
constexpr AllowedCall kWriter[] = {
    TORVANE_COMMON_CALLS,
    {SYS_write},
    {SYS_sendto},
    {SYS_sendmsg},
    // Waiting for a record or the next renewal of a temporary address, and the interface's
    // hardware address for its ARP probe.
    {SYS_ppoll},
#ifdef SYS_poll
    {SYS_poll},
#endif
    {SYS_ioctl, 1, SIOCGIFNAME},
    {SYS_ioctl, 1, SIOCGIFHWADDR},
};

#undef TORVANE_COMMON_CALLS

constexpr std::uint32_t argOffset(int arg)
{
    // The low half of the argument on a little-endian machine, where these filters run.
    return static_cast<std::uint32_t>(offsetof(seccomp_data, args) +
                                      8 * static_cast<unsigned>(arg));
}

} // namespace

std::vector<AllowedCall> listenerCalls(std::span<const int> senders, int replies)
{
    std::vector<AllowedCall> calls(std::begin(kListener), std::end(kListener));
    for (const int fd : senders) {
        calls.push_back({SYS_sendto, 0, static_cast<std::uint32_t>(fd)});
    }
    calls.push_back({SYS_sendmsg, 0, static_cast<std::uint32_t>(replies)});
    // A batch of requests or answers to the front-end, in one call.
    calls.push_back({SYS_sendmmsg, 0, static_cast<std::uint32_t>(kLinkFd)});
    return calls;
}

std::span<const AllowedCall> writerCalls()
{
    return kWriter;
}

std::uint32_t auditArch()
{
    return kAuditArch;
}

std::vector<sock_filter> systemCallFilter(std::span<const AllowedCall> allowed)
{
    const sock_filter loadNr = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    const sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    const sock_filter kill = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    std::vector<sock_filter> p;
    p.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    p.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0));
    p.push_back(kill);
    p.push_back(loadNr);
    for (const AllowedCall& c : allowed) {
        const auto nr = static_cast<std::uint32_t>(c.nr);
        if (c.arg < 0) {
            // if (nr == c.nr) allow;
            p.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1));
            p.push_back(allow);
        } else {
            // if (nr == c.nr && args[c.arg] == c.value) allow; then the number again.
            p.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 4));
            p.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argOffset(c.arg)));
            p.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, c.value, 0, 1));
            p.push_back(allow);
            p.push_back(loadNr);
        }
    }
    p.push_back(kill);
    return p;
}

} // namespace helper
