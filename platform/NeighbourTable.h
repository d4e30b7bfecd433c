#pragma once

#include <array>
#include <cstdint>
#include <string>

// The PC's neighbour (ARP) table.
class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    /// Adds or replaces a permanent entry for ip on the interface. Returns the empty string on
    /// success, else a description of the failure.
    virtual std::string addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                                     const std::array<std::uint8_t, 6>& mac) = 0;
};
