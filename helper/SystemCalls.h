#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <span>
#include <vector>

// The system-call allow-lists of the helper's two processes, as data, and the classic BPF
// program made from one. Anything not allowed kills the process.
namespace helper {

/// One allowed call; with arg >= 0 only when that argument (its low 32 bits) equals value.
struct AllowedCall {
    int nr;
    int arg = -1;
    std::uint32_t value = 0;
};

/// The listener after its sockets are open: reads the link and its sockets, names interfaces,
/// writes to stderr. It sends with sendto only on senders (the front-end's link, the writer's,
/// rtnetlink) and with sendmsg only on replies (UDP port 67): the packet socket, which could
/// put any frame on the wire, is for reading alone. It can open nothing and change no
/// capability.
std::vector<AllowedCall> listenerCalls(std::span<const int> senders, int replies);
/// The writer: reads its records, talks rtnetlink on the socket it already has.
std::span<const AllowedCall> writerCalls();

/// The seccomp program: the architecture check, one self-contained entry per allowed call,
/// then kill.
std::vector<sock_filter> systemCallFilter(std::span<const AllowedCall> allowed);

/// The audit architecture the call numbers above belong to.
std::uint32_t auditArch();

} // namespace helper
