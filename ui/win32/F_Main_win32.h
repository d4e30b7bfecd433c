#pragma once

#include "MainView.h"
#include "Pictures.h"
#include "Win32Ui.h"

#include <array>
#include <functional>
#include <memory>

namespace win32ui {

class F_Browser;

/// The main window in plain Win32: the definition of the start-up window (title, fixed
/// frame, pictures, status box, Start, Stop and Exit) and the view the main window's
/// behaviour drives.
class F_Main final : public behaviour::MainView {
public:
    /// The window's events, for the behaviour to take; an empty one does nothing, except
    /// that Exit and the close box then unload the window.
    struct Handlers {
        std::function<void()> Form_Load;
        std::function<void()> Form_Unload;
        std::function<void()> Command1_Click;
        std::function<void()> Command2_Click;
        std::function<void()> Command3_Click;
        std::function<void()> Timer1_Timer;
    };

    F_Main();
    ~F_Main() override;
    F_Main(const F_Main&) = delete;
    F_Main& operator=(const F_Main&) = delete;

    /// Creates the window centred on the screen and shows it; false if Windows refused.
    bool create(int showCommand);
    HWND hwnd() const { return m_hwnd; }
    Handlers handlers;

    // behaviour::MainView
    void setButtonEnabled(Button button, bool enabled) override;
    void setDefaultButton(Button button) override;
    void setButtonFocus(Button button) override;
    void setTimerInterval(int milliseconds) override;
    void showFrame(int index) override;
    void setStatus(const std::string& text) override;
    void setInputBlocked(bool blocked) override;
    void showMessage(Icon icon, const std::string& title, const std::string& text) override;
    bool askQuestion(const std::string& title, const std::string& text) override;
    behaviour::Assignment showSettingsDialog(const behaviour::PublicArea& area) override;
    void processEvents() override;
    std::string browserStartFailure() override;
    void openPage(const std::string& url) override;
    void unloadBrowser() override;
    void unload() override;

private:
    friend class OwnedWindow<F_Main>;
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate();
    void onCommand(int id, int code);
    void drawPicture(const DRAWITEMSTRUCT& item);
    void changeDpi(UINT dpi, const RECT& suggested);
    static int idOf(Button button);

    HWND m_hwnd = nullptr;
    HWND m_tips = nullptr;
    UINT m_dpi = 96;
    Fonts m_fonts;
    Picture m_card;
    /// ImgAni: the frame store, never shown itself.
    std::array<Picture, 12> ImgAni;
    int m_frame = 0;
    std::unique_ptr<F_Browser> m_browser;
};

} // namespace win32ui
