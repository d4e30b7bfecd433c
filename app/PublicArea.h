#pragma once

#include <array>
#include <cstdint>
#include <string>

// The process-wide variables through which the main window and the settings dialog hand
// each other the detected card, the operator's addresses and decision, and the values
// prepared once at start-up. Everything starts zeroed and lives until the process ends.
namespace PublicArea {

using Octets = std::array<std::uint8_t, 4>;

/// MAC text of the detected card: six upper-case hex pairs joined by "-".
extern std::string G_MacAddr;
/// Prefix of the static ARP command; ends with a blank.
extern std::string G_ArpCmd;
/// This PC's IPv4 address, element 0 the leftmost number.
extern Octets G_LocalIp;
/// Address, subnet mask and gateway to give the card; meaningful while G_SetOk is true.
extern Octets G_IpAddr;
extern Octets G_SbMask;
extern Octets G_GateWay;
/// The bytes that must open the options field of a card's request.
extern std::array<std::uint8_t, 10> G_OptTmpl;
/// The dialog was left with Set (true) or otherwise (false).
extern bool G_SetOk;
/// The operator wants the card's web page opened after the assignment.
extern bool G_OpenBrw;

/// Puts every variable back to its process-start value (for tests that need a fresh process).
void resetAll();

} // namespace PublicArea
