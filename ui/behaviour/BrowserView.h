#pragma once

#include <string>

namespace behaviour {

// What the browser window's behaviour (BrowserBehaviour) asks of a browser window: the Qt
// window, the Win32 window and the tests' fake each implement it, around their web view.
// Texts are UTF-8.
class BrowserView {
public:
    /// Back (Command2) and forward (Command3).
    enum class Button { Command2, Command3 };

    virtual ~BrowserView() = default;

    // Combo1, the address history, as the behaviour keeps it.
    virtual void insertEntry(int index, const std::string& text) = 0;
    virtual void removeEntry(int index) = 0;
    /// The view may raise Combo1_Click from here, as Qt's list does; it navigates nowhere.
    virtual void selectEntry(int index) = 0;

    virtual void setButtonEnabled(Button button, bool enabled) = 0;
    /// Timer1's interval in milliseconds, (re)starting it; 0 stops it.
    virtual void setTimerInterval(int milliseconds) = 0;
    virtual void setTitle(const std::string& title) = 0;

    // The web view.
    /// Starts loading url; false when there is no web view to take it.
    virtual bool navigate(const std::string& url) = 0;
    virtual bool busy() const = 0;
    virtual std::string locationURL() const = 0;
    virtual std::string locationName() const = 0;
    /// Hands url to the system's default browser: 0, or the system's error number. Asked only
    /// when navigate has refused, so a view that never refuses need not answer.
    virtual unsigned long openOutside(const std::string& /*url*/) { return 1; }
};

} // namespace behaviour
