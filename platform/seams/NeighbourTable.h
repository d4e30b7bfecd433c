#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Twin.h"

// The PC's neighbour (ARP) table.
class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    /// Adds a permanent entry for ip on the interface. Returns an empty text on success, else
    /// the cause of the failure, short enough to sit inside a sentence.
    virtual text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                                    const std::array<std::uint8_t, 6>& mac) = 0;
};
