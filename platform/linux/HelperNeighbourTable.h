#pragma once

#include "HelperSession.h"
#include "NeighbourTable.h"

#include <memory>

// Asks torvane-helper for the entry: it writes one only for the address of the reply it just
// sent, with that card's MAC, on the interface the card's request came in on.
class HelperNeighbourTable final : public NeighbourTable {
public:
    explicit HelperNeighbourTable(std::shared_ptr<HelperSession> session)
        : m_session(std::move(session))
    {
    }
    text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                            const std::array<std::uint8_t, 6>& mac) override;

private:
    std::shared_ptr<HelperSession> m_session;
};
