#include "PublicArea.h"

namespace PublicArea {

std::string G_MacAddr;
std::string G_ArpCmd;
Octets G_LocalIp{};
Octets G_IpAddr{};
Octets G_SbMask{};
Octets G_GateWay{};
std::array<std::uint8_t, 10> G_OptTmpl{};
bool G_SetOk = false;
bool G_OpenBrw = false;

void resetAll()
{
    G_MacAddr.clear();
    G_ArpCmd.clear();
    G_LocalIp = {};
    G_IpAddr = {};
    G_SbMask = {};
    G_GateWay = {};
    G_OptTmpl = {};
    G_SetOk = false;
    G_OpenBrw = false;
}

} // namespace PublicArea
