#pragma once

#include "WebHost.h"
#include "Win32Ui.h"

#include <memory>
#include <string>

namespace win32ui {

/// The browser window in plain Win32: a modeless, sizable window with the address list,
/// back, forward, refresh and close, and the web view below them. Where Windows has no web
/// engine, a page is handed to the default browser and the title says so.
class F_Browser {
public:
    /// engine: whether the web view must have an HTML engine; only tests take a view without
    /// one (Wine has none), which navigates and raises its events but draws nothing.
    explicit F_Browser(WebHost::Engine engine = WebHost::Engine::Required);
    ~F_Browser();
    F_Browser(const F_Browser&) = delete;
    F_Browser& operator=(const F_Browser&) = delete;

    /// Creates and shows the window (Form_Load); false if Windows refused.
    bool create();
    /// Whether the window is still open (the operator may have closed it).
    bool open() const { return m_hwnd != nullptr; }
    HWND hwnd() const { return m_hwnd; }
    /// Puts url into the address list (once) and selects it, then opens it: in the web view,
    /// with the busy indicator running, or in the default browser when there is none.
    void addURL(const std::string& url);
    /// The web view, for tests that watch its navigations.
    WebHost& WebBrowser1() { return m_web; }

    // The web view's events. Public so that they can be raised without a web engine.
    /// Command 1 (forward) or 2 (back) became possible or impossible; other values do nothing.
    void WebBrowser1_CommandStateChange(long Command, bool Enable);
    void WebBrowser1_DownloadComplete();
    /// URL is the document's or frame's; the window reads the view's own address instead.
    void WebBrowser1_DocumentComplete(const std::wstring& URL);

private:
    friend class OwnedWindow<F_Browser>;
    /// The operator picked an address, or the window's own code changed the selection (which
    /// navigates nowhere while M_ClickNav is false).
    void Combo1_Click();
    /// The busy indicator's tick: "connecting" in the title while the view loads, else the
    /// page's name, and the timer stops.
    void Timer1_Timer();
    void startTimer1();
    void stopTimer1();
    void select(int index);
    void navigate(const std::wstring& address);
    void openOutside(const std::wstring& address);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate();
    bool findURL(const std::wstring& url);
    void Completion();
    void onCommand(int id, int code);
    void layout();
    void setTitle(const std::wstring& title);

    HWND m_hwnd = nullptr;
    HWND m_tips = nullptr;
    HWND m_webWindow = nullptr;
    UINT m_dpi = 96;
    Fonts m_fonts;
    HICON m_icons[3]{};
    HICON m_appIcon = nullptr;
    HICON m_appSmallIcon = nullptr;
    WebHost m_web;
    WebHost::Engine m_engine;
    /// True while a change of the address list's selection is the operator's choice; false
    /// while the window changes the selection itself.
    bool M_ClickNav = false;
    long m_webError = 0;
};

} // namespace win32ui
