#pragma once

#include "Policy.h"

#include <cstdint>
#include <optional>

// The kernel services the helper uses: rtnetlink for addresses, routes and neighbours,
// capabilities and the system-call filter. Nothing here reads a file.
namespace helper {

/// This PC's IPv4 addresses and the gateways of its routes (all tables).
NetFacts readNetFacts();

/// The MAC that the neighbour table holds for ip on ifindex, if it holds a resolved one.
std::optional<Mac> neighbourMac(int ifindex, const Ipv4& ip);

/// Writes a permanent neighbour entry; returns 0 or an errno. Needs cap_net_admin in effect.
int writeNeighbour(int ifindex, const Ipv4& ip, const Mac& mac);

/// Narrows the permitted and effective capability sets to these bit masks of CAP_* (what
/// the process does not hold stays out); the inheritable set is emptied. False on failure.
bool setCapabilities(std::uint64_t permitted, std::uint64_t effective);

/// Installs the allow-list of system calls that the helper's loop needs; any other call
/// kills the process.
bool restrictSystemCalls();

inline constexpr std::uint64_t kCapNetBindService = std::uint64_t(1) << 10;
inline constexpr std::uint64_t kCapNetAdmin = std::uint64_t(1) << 12;

} // namespace helper
