#pragma once

#include "ConfigView.h"
#include "PublicArea.h"

#include <string>

namespace behaviour {

// The settings dialog's behaviour, without any toolkit: the octet boxes' rules (digit filter,
// automatic advance, the cap at 255 when a box is left), the proposal from this PC's address,
// the confirmation, and the result, an Assignment. G_SetOk is true only when the operator
// confirmed Set; every other way out of the dialog leaves it false.
class ConfigBehaviour {
public:
    using Group = ConfigView::Group;

    /// Opened for the card in area: its G_MacAddr and G_LocalIp. The result starts as area's
    /// own, so that a dialog left without Set keeps the earlier addresses, with G_SetOk false.
    ConfigBehaviour(ConfigView& view, const PublicArea& area)
        : m_view(view), m_macAddr(area.G_MacAddr), m_localIp(area.G_LocalIp), m_result(area)
    {
    }

    /// What the dialog was left with; final once it has closed.
    const Assignment& result() const { return m_result; }

    /// Shows G_MacAddr.
    void Form_Load();
    /// The dialog became active; only the first activation proposes the address.
    void Form_Activate();
    /// Cancel.
    void Command1_Click();
    /// Set: confirmation, then the result.
    void Command2_Click();
    /// The dialog is closing by whatever way: unless Set was confirmed, that is a Cancel.
    void Form_Unload();

    void T_IpAddr_Change(short Index) { octetChange(Group::IpAddr, Index); }
    void T_SbMask_Change(short Index) { octetChange(Group::SbMask, Index); }
    void T_GateWay_Change(short Index) { octetChange(Group::GateWay, Index); }
    void T_IpAddr_LostFocus(short Index) { octetLostFocus(Group::IpAddr, Index); }
    void T_SbMask_LostFocus(short Index) { octetLostFocus(Group::SbMask, Index); }
    void T_GateWay_LostFocus(short Index) { octetLostFocus(Group::GateWay, Index); }
    /// Runs the change handler of a group.
    void change(Group group, short Index) { octetChange(group, Index); }
    void lostFocus(Group group, short Index) { octetLostFocus(group, Index); }

    static bool IsNumChar(std::u16string_view ch);

private:
    void octetChange(Group group, short Index);
    void octetLostFocus(Group group, short Index);

    ConfigView& m_view;
    std::string m_macAddr;
    Octets m_localIp;
    Assignment m_result;
    bool m_activated = false;
    bool m_setConfirmed = false;
};

} // namespace behaviour
