#pragma once

#include <string>

namespace behaviour {

// What the settings dialog's behaviour (ConfigBehaviour) asks of a settings dialog: the Qt
// dialog, a Win32 dialog and the tests' fake each implement it. Box texts are UTF-16, as
// both toolkits hold them, so that lengths and caret positions count what the box counts;
// other texts are UTF-8.
class ConfigView {
public:
    /// The three groups of four octet boxes: T_IpAddr, T_SbMask, T_GateWay.
    enum class Group { IpAddr, SbMask, GateWay };

    virtual ~ConfigView() = default;

    virtual std::u16string boxText(Group group, int index) const = 0;
    /// Sets the text of a box. When it differs from the text the box holds, the view calls
    /// the group's change handler (T_IpAddr_Change, ...) before returning, as after an edit by
    /// the operator; when it is the same, nothing happens.
    virtual void setBoxText(Group group, int index, const std::u16string& text) = 0;
    /// The caret position in a box, in UTF-16 units from its start.
    virtual int caret(Group group, int index) const = 0;
    /// Places the caret; a position past the end stands at the end.
    virtual void setCaret(Group group, int index, int position) = 0;
    virtual void focusBox(Group group, int index) = 0;
    /// Command2 (Set) becomes the default button for as long as the dialog is open.
    virtual void makeSetDefault() = 0;
    virtual void focusSet() = 0;

    /// L_MacAddr's caption.
    virtual void setMacText(const std::string& text) = 0;
    /// C_SetBrw is checked.
    virtual bool openBrowserChecked() const = 0;
    /// A modal question with Yes and No, No the default; true for Yes.
    virtual bool confirm(const std::string& title, const std::string& text) = 0;
    /// Closes (unloads) the dialog, after a confirmed Set (set) or otherwise; the main
    /// window's showSettingsDialog then returns.
    virtual void closeDialog(bool set) = 0;
};

} // namespace behaviour
