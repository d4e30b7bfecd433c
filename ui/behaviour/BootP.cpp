#include "BootP.h"

#include "Card.h"

namespace behaviour {

bool chkRequest(std::span<const std::uint8_t> message)
{
    return bootp::isCardRequest(message, bootp::kCardOptions);
}

void macText(std::span<const std::uint8_t> message, PublicArea& area)
{
    area.G_MacAddr.clear();
    if (message.size() >= bootp::kChaddr + bootp::kMacSize) {
        area.G_MacAddr = bootp::macText(bootp::requestMac(message));
    }
}

bool makeReply(std::span<std::uint8_t> message, const PublicArea& area)
{
    return bootp::writeReply(message,
                             {area.G_IpAddr, area.G_SbMask, area.G_GateWay, area.G_LocalIp});
}

} // namespace behaviour
