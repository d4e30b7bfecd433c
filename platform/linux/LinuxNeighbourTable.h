#pragma once

#include "NeighbourTable.h"

// Writes the neighbour table through rtnetlink: no shell, and no command line built from
// network data. Needs root or cap_net_admin.
class LinuxNeighbourTable final : public NeighbourTable {
public:
    std::string addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                             const std::array<std::uint8_t, 6>& mac) override;
};
