#pragma once

#include "Record.h"

#include <string>
#include <vector>

// A record turned into a general DHCP server's configuration, so that the addresses it holds
// can be served by dnsmasq or Kea later (a card that was reset, a replacement server).
namespace assign {

/// dnsmasq: one dhcp-host line per card, tagged by its mask and gateway, and the router and
/// netmask options of each tag. The router line comes first: dnsmasq 2.90 writes options in
/// the opposite order of their lines, which puts the mask at offset 246 where a card wants it.
/// The dhcp-range of the subnet is the operator's own configuration.
std::string dnsmasqConfig(const std::vector<RecordEntry>& entries);

/// Kea: a JSON array for a subnet's "reservations", one per card by hw-address, with the
/// router and subnet mask as option data and the name and extra columns as user context.
std::string keaReservations(const std::vector<RecordEntry>& entries);

} // namespace assign
