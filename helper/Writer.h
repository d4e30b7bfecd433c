#pragma once

#include "Kernel.h"

// The helper's neighbour-table writer: the one process that holds cap_net_admin. It reads
// only fixed-size entry records from the listener, checks each again against the kernel and
// writes it, never over another MAC's entry.
namespace helper {

/// Answers the records that arrive on link until the listener goes; then ends the process.
[[noreturn]] void serveWriter(int link, RouteLink& route);

} // namespace helper
