#include "BootP.h"

#include "Card.h"
#include "PublicArea.h"

bool chkRequest(std::span<const std::uint8_t> message)
{
    return bootp::isCardRequest(message, PublicArea::G_OptTmpl);
}

void macText(std::span<const std::uint8_t> message)
{
    PublicArea::G_MacAddr.clear();
    if (message.size() >= bootp::kChaddr + bootp::kMacSize) {
        PublicArea::G_MacAddr = bootp::macText(bootp::requestMac(message));
    }
}

bool makeReply(std::span<std::uint8_t> message)
{
    using namespace PublicArea;
    return bootp::writeReply(message, {G_IpAddr, G_SbMask, G_GateWay, G_LocalIp});
}
