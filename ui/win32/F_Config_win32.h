#pragma once

#include "ConfigBehaviour.h"
#include "ConfigView.h"
#include "Win32Ui.h"

#include <array>
#include <string>

namespace win32ui {

/// The settings dialog in plain Win32: a modal dialog over the main window with the card's
/// MAC text, twelve octet boxes, the browser check box, Set and Cancel; a view over the
/// dialog's behaviour (ConfigBehaviour), which takes every event.
class F_Config final : public behaviour::ConfigView {
public:
    /// For the card in area: its G_MacAddr and G_LocalIp.
    explicit F_Config(const behaviour::PublicArea& area) : m_core(*this, area) {}
    F_Config(const F_Config&) = delete;
    F_Config& operator=(const F_Config&) = delete;

    /// Shows the dialog modally over owner and returns when it has closed: true after a
    /// confirmed Set.
    bool run(HWND owner);
    /// What the dialog was left with; final once it has closed.
    const behaviour::Assignment& result() const { return m_core.result(); }

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
    friend class OwnedWindow<F_Config>;
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
    /// Where the focus went when a box last lost it.
    HWND m_focusTo = nullptr;
    /// Each box's text as the change handler last saw it.
    std::array<std::u16string, 12> m_texts;
    behaviour::ConfigBehaviour m_core;
};

} // namespace win32ui
