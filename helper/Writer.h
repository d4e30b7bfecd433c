#pragma once

#include "Kernel.h"

// The helper's neighbour-table writer: the one process that holds cap_net_admin. It reads
// only fixed-size entry records from the listener, a batch of them at a time, checks each
// again against the kernel and writes it, never over another MAC's entry.
namespace helper {

/// Entry records the listener may send in one message (whole records only); the writer
/// answers with as many results, in the same order.
inline constexpr std::size_t kEntriesPerExchange = 64;

/// Answers the records that arrive on link until the listener goes; then ends the process.
[[noreturn]] void serveWriter(int link, RouteLink& route);

} // namespace helper
