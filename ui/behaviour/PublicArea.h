#pragma once

#include <array>
#include <cstdint>
#include <string>

// What the main window and the settings dialog hand each other: the detected card, this PC's
// address on its interface, and the operator's decision. The main window's behaviour owns it;
// the dialog is opened with it and returns the Assignment.
namespace behaviour {

using Octets = std::array<std::uint8_t, 4>;

/// What the settings dialog returns.
struct Assignment {
    /// The dialog was left with Set (true) or otherwise (false).
    bool G_SetOk = false;
    /// Address, subnet mask and gateway to give the card; meaningful while G_SetOk is true.
    Octets G_IpAddr{};
    Octets G_SbMask{};
    Octets G_GateWay{};
    /// The operator wants the card's web page opened after the assignment.
    bool G_OpenBrw = false;
};

struct PublicArea : Assignment {
    /// MAC text of the detected card: six upper-case hex pairs joined by "-".
    std::string G_MacAddr;
    /// This PC's IPv4 address, element 0 the leftmost number.
    Octets G_LocalIp{};
};

} // namespace behaviour
