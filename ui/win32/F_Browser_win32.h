#pragma once

#include "BrowserBehaviour.h"
#include "WebHost.h"
#include "Win32Ui.h"

#include <memory>
#include <string>

namespace win32ui {

/// The browser window in plain Win32: a modeless, sizable window with the address list,
/// back, forward, refresh and close, and the web view below them. Where Windows has no web
/// engine, a page is handed to the default browser and the title says so. What it does is
/// BrowserBehaviour's; the window draws and forwards.
class F_Browser : private behaviour::BrowserView {
public:
    /// engine: whether the web view must have an HTML engine; only tests take a view without
    /// one (Wine has none), which navigates and raises its events but draws nothing.
    explicit F_Browser(WebHost::Engine engine = WebHost::Engine::Required);
    ~F_Browser() override;
    F_Browser(const F_Browser&) = delete;
    F_Browser& operator=(const F_Browser&) = delete;

    /// Creates and shows the window (Form_Load); false if Windows refused.
    bool create();
    /// Whether the window is still open (the operator may have closed it).
    bool open() const { return m_hwnd != nullptr; }
    HWND hwnd() const { return m_hwnd; }
    /// Puts url into the address list (once) and selects it, then opens it: in the web view,
    /// with the busy indicator running, or in the default browser when there is none.
    void addURL(const std::string& url) { m_behaviour.addURL(url); }
    /// The web view, for tests that watch its navigations.
    WebHost& WebBrowser1() { return m_web; }

    // The web view's events. Public so that they can be raised without a web engine.
    void WebBrowser1_CommandStateChange(long Command, bool Enable)
    {
        m_behaviour.WebBrowser1_CommandStateChange(Command, Enable);
    }
    void WebBrowser1_DownloadComplete() { m_behaviour.WebBrowser1_DownloadComplete(); }
    /// URL is the document's or frame's; the window reads the view's own address instead.
    void WebBrowser1_DocumentComplete(const std::wstring& /*URL*/)
    {
        m_behaviour.WebBrowser1_DocumentComplete();
    }

private:
    friend class OwnedWindow<F_Browser>;
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate();
    void onCommand(int id, int code);
    void layout();

    void insertEntry(int index, const std::string& text) override;
    void removeEntry(int index) override;
    void selectEntry(int index) override;
    void setButtonEnabled(Button button, bool enabled) override;
    void setTimerInterval(int milliseconds) override;
    void setTitle(const std::string& title) override
    {
        SetWindowTextW(m_hwnd, wide(title).c_str());
    }
    bool navigate(const std::string& url) override
    {
        return m_web.valid() && SUCCEEDED(m_web.navigate(wide(url)));
    }
    bool busy() const override { return m_web.busy(); }
    std::string locationURL() const override { return utf8(m_web.locationURL()); }
    std::string locationName() const override { return utf8(m_web.locationName()); }
    unsigned long openOutside(const std::string& url) override;

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
    long m_webError = 0;
    behaviour::BrowserBehaviour m_behaviour{*this};
};

} // namespace win32ui
