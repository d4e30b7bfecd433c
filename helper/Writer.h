#pragma once

#include "Kernel.h"

// The helper's writer: the one process that holds cap_net_admin. It reads only fixed-size
// records from the listener (entries a batch at a time), checks each again against the
// kernel, and writes the neighbour entry (never over another MAC's) or adds a temporary
// address with its host route, which it renews while the search lasts and removes when the
// search ends.
namespace helper {

/// The packet socket for the ARP probes of temporary addresses, opened while the writer
/// still holds cap_net_raw; -errno on failure.
int openProbeSocket();

/// Entry records the listener may send in one message (whole records only); the writer
/// answers with as many results, in the same order.
inline constexpr std::size_t kEntriesPerExchange = 64;

/// Answers the records that arrive on link until the listener goes; then removes what it
/// added and ends the process. probe is openProbeSocket's socket.
[[noreturn]] void serveWriter(int link, RouteLink& route, int probe);

} // namespace helper
