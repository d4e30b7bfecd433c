#include "HelperNeighbourTable.h"

#include "HelperTexts.h"

text::Twin HelperNeighbourTable::addPermanent(int, const std::array<std::uint8_t, 4>& ip,
                                              const std::array<std::uint8_t, 6>& mac)
{
    // The interface is the one the helper saw the request arrive on; it is not asked for.
    const helper::Answer a = m_session->link.neighbour(m_session->requestId, ip, mac);
    if (a.ok()) {
        return {};
    }
    return commandFailureText(a);
}
