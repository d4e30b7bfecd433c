#pragma once

#include "Win32Ui.h"

#include <string>

struct IWebBrowser2;

namespace win32ui {

/// The embedded web view: Windows's WebBrowser control (IWebBrowser2) in a minimal OLE
/// in-place site, inside a child window of its own.
class WebHost {
public:
    WebHost() = default;
    ~WebHost();
    WebHost(const WebHost&) = delete;
    WebHost& operator=(const WebHost&) = delete;

    /// Creates the control in parent; false (with the COM result in error) when Windows has
    /// no web engine to give, and the window then stays without a web view.
    bool create(HWND parent, long& error);
    bool valid() const { return m_browser != nullptr; }
    /// S_OK, or why the control refused the address.
    long navigate(const std::wstring& url);
    void goBack();
    void goForward();
    void refresh();
    void place(const RECT& r);

private:
    class Site;
    Site* m_site = nullptr;
    IWebBrowser2* m_browser = nullptr;
};

} // namespace win32ui
