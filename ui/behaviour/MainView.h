#pragma once

#include "PublicArea.h"

#include <string>

namespace behaviour {

// What the main window's behaviour (MainBehaviour) asks of a main window: the Qt window, a
// Win32 window and the tests' fake each implement it. Only drawing and the toolkit's own
// work are left here; every decision is taken by the behaviour. Texts are UTF-8.
class MainView {
public:
    /// Start (Command1), Stop (Command2), Exit (Command3).
    enum class Button { Command1, Command2, Command3 };
    enum class Icon { Critical, Warning };

    virtual ~MainView() = default;

    virtual void setButtonEnabled(Button button, bool enabled) = 0;
    /// The one button that Enter activates when the focus is on no push button.
    virtual void setDefaultButton(Button button) = 0;
    virtual void setButtonFocus(Button button) = 0;
    /// Timer1's interval in milliseconds; 0 stops it.
    virtual void setTimerInterval(int milliseconds) = 0;
    /// Img_AniBuf shows the picture of ImgAni element index (0 to 11).
    virtual void showFrame(int index) = 0;
    /// Text1, the status box.
    virtual void setStatus(const std::string& text) = 0;
    /// While blocked the window takes no input, close box included, but stays drawn as it is
    /// (the animation runs on).
    virtual void setInputBlocked(bool blocked) = 0;
    /// A modal message box with OK only.
    virtual void showMessage(Icon icon, const std::string& title, const std::string& text) = 0;
    /// A warning about the browser window (OK only); a toolkit that can tie the box to that
    /// window, rather than to this one, does.
    virtual void showBrowserNotice(const std::string& title, const std::string& text)
    {
        showMessage(Icon::Warning, title, text);
    }

    /// A modal question with Yes and No, No the default; true for Yes. A window that cannot
    /// ask answers No.
    virtual bool askQuestion(const std::string& /*title*/, const std::string& /*text*/)
    {
        return false;
    }

    /// Shows the settings dialog modally for the card in area (G_MacAddr, G_LocalIp) and
    /// returns, once it has closed, what it was left with: G_SetOk and, when true, the
    /// addresses and G_OpenBrw.
    virtual Assignment showSettingsDialog(const PublicArea& area) = 0;
    /// Runs the pending window events and returns; may wait briefly (at most some tens of
    /// milliseconds) for one to come, so that a polling loop does not spin.
    virtual void processEvents() = 0;

    /// Why the browser window cannot start (already said on stderr in English), in the
    /// process's language; empty when it can.
    virtual std::string browserStartFailure() = 0;
    /// The browser window's addURL: opens it as needed and loads url.
    virtual void openPage(const std::string& url) = 0;
    /// Closes the browser window if it is open.
    virtual void unloadBrowser() = 0;
    /// Unloads this window (its unload handler runs: Form_Unload).
    virtual void unload() = 0;
};

} // namespace behaviour
