#pragma once

#include "ConfigView.h"
#include "Win32Ui.h"

#include <functional>

namespace win32ui {

/// The settings dialog in plain Win32: a modal dialog over the main window with the card's
/// MAC text, twelve octet boxes, the browser check box, Set and Cancel; the view the
/// dialog's behaviour drives.
class F_Config final : public behaviour::ConfigView {
public:
    /// The dialog's events, for the behaviour to take. Without Command1_Click, Cancel (also
    /// Esc and the close box) closes the dialog.
    struct Handlers {
        std::function<void()> Form_Load;
        std::function<void()> Form_Activate;
        std::function<void()> Form_Unload;
        std::function<void()> Command1_Click;
        std::function<void()> Command2_Click;
        std::function<void(Group, short)> change;
        std::function<void(Group, short)> lostFocus;
    };

    F_Config() = default;
    F_Config(const F_Config&) = delete;
    F_Config& operator=(const F_Config&) = delete;

    /// Shows the dialog modally over owner and returns when it has closed: true after Set.
    bool run(HWND owner);
    Handlers handlers;

    // behaviour::ConfigView
    std::u16string boxText(Group group, int index) const override;
    void setBoxText(Group group, int index, const std::u16string& text) override;
    int caret(Group group, int index) const override;
    void setCaret(Group group, int index, int position) override;
    void focusBox(Group group, int index) override;
    void makeSetDefault() override;
    void focusSet() override;
    void setMacText(const std::string& text) override;
    bool openBrowserChecked() const override;
    bool confirm(const std::string& title, const std::string& text) override;
    void closeDialog(bool set) override;

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onInit(HWND owner);
    void onCommand(int id, int code);
    void paintRule();
    HWND box(Group group, int index) const;

    HWND m_hwnd = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    UINT m_dpi = 96;
    Fonts m_fonts;
    bool m_activated = false;
};

} // namespace win32ui
