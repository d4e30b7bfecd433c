#pragma once

#include "Win32Ui.h"

#include <functional>
#include <string>

struct IConnectionPoint;
struct IOleInPlaceFrame;
struct IWebBrowser2;

namespace win32ui {

/// The embedded web view: Windows's WebBrowser control (IWebBrowser2) in a minimal OLE
/// in-place site, inside a child window of its own. Its events (DWebBrowserEvents2) reach the
/// handlers below with plain arguments.
class WebHost {
public:
    /// The control's events that the browser window takes; an empty one is ignored.
    struct Handlers {
        /// Command 1: forward, 2: back, anything else (such as -1): neither.
        std::function<void(long Command, bool Enable)> CommandStateChange;
        std::function<void()> DownloadComplete;
        /// The address of the document (or frame) that has finished loading.
        std::function<void(const std::wstring& URL)> DocumentComplete;
        /// A navigation of the view or of a frame is about to start, to URL.
        std::function<void(const std::wstring& URL)> BeforeNavigate2;
    };

    WebHost() = default;
    ~WebHost();
    WebHost(const WebHost&) = delete;
    WebHost& operator=(const WebHost&) = delete;

    /// Whether create() asks for the HTML engine that draws the pages. Without it the control
    /// still navigates and raises its own events but shows nothing: only tests take it so
    /// (Wine has no engine).
    enum class Engine { Required, NotRequired };

    /// Creates the control in parent and subscribes to its events; false (with the COM result
    /// in error) when Windows has no web engine to give or the control offers no events, and
    /// the window then stays without a web view.
    bool create(HWND parent, long& error, Engine engine = Engine::Required);
    /// Ends the subscription and closes the control; the view is then not valid.
    void close();
    bool valid() const { return m_browser != nullptr; }
    /// S_OK, or why the control refused the address.
    long navigate(const std::wstring& url);
    void goBack();
    void goForward();
    void refresh();
    void place(const RECT& r);
    /// The current page's address and name; empty without a view or when the control gives
    /// none.
    std::wstring locationURL() const;
    std::wstring locationName() const;
    /// Whether the control is loading a page. A view that cannot say counts as idle, so that
    /// the title never reads "connecting" for good; without a view, false.
    bool busy() const;

    /// Gives a key message to the control's active object first (its TranslateAccelerator)
    /// while the focus is inside the view; true when the page has taken it. Tab then leaves
    /// the page only where the page lets it go.
    bool translateKey(MSG& msg);
    /// Gives the page the keyboard focus (UI activation), as a click into it does.
    void focus();
    /// The frame that the control tells which of its objects is active; tests stand in for the
    /// control through it.
    IOleInPlaceFrame* frame() const;

    /// Asks Windows to draw the pages of this program's web views in Internet Explorer 11's
    /// edge mode rather than as IE7 or in quirks mode: the per-user value for the running
    /// program's file name. Nothing else is written; false, with the reason on stderr, when
    /// the value cannot be set.
    static bool requestEdgeMode();

    Handlers handlers;

private:
    class Site;
    class Sink;
    long subscribe();
    Site* m_site = nullptr;
    IWebBrowser2* m_browser = nullptr;
    Sink* m_sink = nullptr;
    IConnectionPoint* m_events = nullptr;
    unsigned long m_cookie = 0;
    bool m_focusing = false;
};

} // namespace win32ui
