#include "F_Browser.h"

#include "BrowserRules.h"
#include "Pictures.h"
#include "resource.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

namespace win32ui {

namespace {

constexpr wchar_t kClass[] = L"TorvaneBrowser";
constexpr wchar_t kWebClass[] = L"TorvaneWebView";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 8250;
constexpr int kClientHeight = 5070;
constexpr int kOpenWidth = 12000; // outer size when the window opens
constexpr int kOpenHeight = 8500;
constexpr int kMinWidth = 6000; // the layout rule's smallest outer size
constexpr int kMinHeight = 5000;
constexpr int kWebTop = 360;
constexpr int kWebRightGap = 20;
constexpr int kWebBottomGap = 380 - kWebTop;
constexpr int kComboDrop = 3000; // the open list below the address box
constexpr UINT_PTR kTimer1 = 1;  // the busy indicator's timer on the window
constexpr UINT kTimer1Interval = 100;

enum : int {
    kWebBrowser1 = 501,
    kCommand1,
    kCombo1,
    kCommand2,
    kCommand3,
    kCommand4,
};

constexpr DWORD kImageButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON;

// In tab order: the web view first, so that it holds the focus when the window opens.
const ControlDef kControls[] = {
    {kWebBrowser1, kWebClass, WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, {0, kWebTop, 7440, 3975}},
    {kCommand1,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     {4560, 0, 1215, 375},
     Face::Ui,
     text::Id::BrowserClose},
    {kCombo1,
     L"COMBOBOX",
     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
     {30, 30, 3165, 300 + kComboDrop},
     Face::List},
    {kCommand2, L"BUTTON", kImageButton, {3360, 0, 375, 375}},
    {kCommand3, L"BUTTON", kImageButton, {3720, 0, 375, 375}},
    {kCommand4, L"BUTTON", kImageButton, {4080, 0, 375, 375}},
};

LRESULT CALLBACK webWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE) {
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::wstring entryText(HWND combo, int index)
{
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<std::size_t>(got));
    return text;
}

void registerClasses(HINSTANCE instance)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = webWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWebClass;
    RegisterClassExW(&wc);
}

} // namespace

F_Browser::F_Browser(WebHost::Engine engine) : m_engine(engine) {}

F_Browser::~F_Browser()
{
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
    }
    for (HICON icon : {m_icons[0], m_icons[1], m_icons[2], m_appIcon, m_appSmallIcon}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

bool F_Browser::create()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerClasses(instance);
    m_appIcon = loadIcon(IDI_TORVANE, GetSystemMetrics(SM_CXICON));
    m_appSmallIcon = loadIcon(IDI_TORVANE, GetSystemMetrics(SM_CXSMICON));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = OwnedWindow<F_Browser>::windowProc;
    wc.hInstance = instance;
    wc.hIcon = m_appIcon;
    wc.hIconSm = m_appSmallIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);

    // Modeless and without an owner: the main window stays usable beside it.
    const SIZE created =
        outerSize(kClientWidth, kClientHeight, kStyle, kExStyle, GetDpiForSystem());
    m_hwnd = CreateWindowExW(kExStyle, kClass, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                             created.cx, created.cy, nullptr, nullptr, instance, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    // Form_Load: the opening outer size, shown, laid out.
    SetWindowPos(m_hwnd, nullptr, 0, 0, pixels(kOpenWidth, m_dpi), pixels(kOpenHeight, m_dpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    addDialogWindow(m_hwnd);
    ShowWindow(m_hwnd, SW_SHOWNORMAL);
    layout();
    SetFocus(m_webWindow);
    return true;
}

void F_Browser::onCreate()
{
    m_dpi = GetDpiForWindow(m_hwnd);
    m_fonts.make(m_dpi);
    createControls(m_hwnd, kControls, m_fonts, m_dpi);
    // The closed address box is 300 twips high, whatever the list font needs.
    SendDlgItemMessageW(m_hwnd, kCombo1, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                        pixels(300, m_dpi) - 6);
    const int icons[] = {IDI_BACK, IDI_FORWARD, IDI_REFRESH};
    for (int i = 0; i < 3; ++i) {
        m_icons[i] = loadIcon(icons[i], 32);
        SendDlgItemMessageW(m_hwnd, kCommand2 + i, BM_SETIMAGE, IMAGE_ICON,
                            reinterpret_cast<LPARAM>(m_icons[i]));
    }
    m_tips = createToolTips(m_hwnd);
    addToolTip(m_tips, m_hwnd, kCommand2, wtr(text::Id::BrowserBackTip));
    addToolTip(m_tips, m_hwnd, kCommand3, wtr(text::Id::BrowserForwardTip));
    addToolTip(m_tips, m_hwnd, kCommand4, wtr(text::Id::BrowserRefreshTip));
    m_webWindow = GetDlgItem(m_hwnd, kWebBrowser1);
    m_web.handlers = {
        [this](long Command, bool Enable) { WebBrowser1_CommandStateChange(Command, Enable); },
        [this] { WebBrowser1_DownloadComplete(); },
        [this](const std::wstring& URL) { WebBrowser1_DocumentComplete(URL); },
        {},
    };
    if (!m_web.create(m_webWindow, m_webError, m_engine)) {
        std::fprintf(stderr, "torvane: no web view (WebBrowser control: 0x%08lx)\n",
                     static_cast<unsigned long>(m_webError));
    }
}

LRESULT F_Browser::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onCreate();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kTimer1) {
            Timer1_Timer();
        }
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {pixels(kMinWidth, m_dpi), pixels(kMinHeight, m_dpi)};
        return 0;
    }
    case WM_SIZE:
        layout();
        return 0;
    case WM_DPICHANGED: {
        m_dpi = HIWORD(wParam);
        m_fonts.make(m_dpi);
        placeControls(m_hwnd, kControls, m_fonts, m_dpi);
        const RECT& r = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_DESTROY:
        // The control goes while its window still exists, and its events end with it.
        m_web.close();
        removeDialogWindow(m_hwnd);
        m_hwnd = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_hwnd, message, wParam, lParam);
}

void F_Browser::onCommand(int id, int code)
{
    // The list reports only the operator's changes of the selection.
    if (id == kCombo1 && code == CBN_SELCHANGE) {
        Combo1_Click();
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    switch (id) {
    case kCommand1:
        DestroyWindow(m_hwnd);
        break;
    case kCommand2:
        m_web.goBack();
        break;
    case kCommand3:
        m_web.goForward();
        break;
    case kCommand4:
        m_web.refresh();
        break;
    default:
        break;
    }
}

void F_Browser::layout()
{
    if (m_webWindow == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(m_hwnd, &client);
    const int width = std::max(0L, client.right - pixels(kWebRightGap, m_dpi));
    const int height = std::max(0L, client.bottom - pixels(kWebTop + kWebBottomGap, m_dpi));
    SetWindowPos(m_webWindow, nullptr, 0, pixels(kWebTop, m_dpi), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    m_web.place({0, 0, width, height});
}

void F_Browser::setTitle(const std::wstring& title)
{
    SetWindowTextW(m_hwnd, title.c_str());
}

void F_Browser::addURL(const std::string& url)
{
    const std::wstring address = wide(url);
    const HWND combo = GetDlgItem(m_hwnd, kCombo1);
    M_ClickNav = false;
    // The list's own search (CB_FINDSTRINGEXACT) ignores letter case; the history does not.
    if (!address.empty() && !findURL(address)) {
        if (SendMessageW(combo, CB_GETCOUNT, 0, 0) >= behaviour::kMaxHistory) {
            SendMessageW(combo, CB_DELETESTRING, behaviour::kMaxHistory - 1, 0);
        }
        SendMessageW(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(address.c_str()));
        select(0);
    }
    M_ClickNav = true;
    startTimer1();
    navigate(address);
}

void F_Browser::Combo1_Click()
{
    if (!M_ClickNav) {
        return;
    }
    const HWND combo = GetDlgItem(m_hwnd, kCombo1);
    const int index = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    startTimer1();
    navigate(entryText(combo, index));
}

void F_Browser::Timer1_Timer()
{
    if (m_web.busy()) {
        setTitle(wtr(text::Id::BrowserConnecting));
    } else {
        stopTimer1();
        setTitle(m_web.locationName());
    }
}

void F_Browser::startTimer1()
{
    SetTimer(m_hwnd, kTimer1, kTimer1Interval, nullptr);
}

void F_Browser::stopTimer1()
{
    KillTimer(m_hwnd, kTimer1);
}

// CB_SETCURSEL tells nobody, while the operator's change raises Combo1_Click; the window's
// own change raises it as well, so that M_ClickNav alone decides what navigates.
void F_Browser::select(int index)
{
    const HWND combo = GetDlgItem(m_hwnd, kCombo1);
    if (SendMessageW(combo, CB_GETCURSEL, 0, 0) == index) {
        return;
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Combo1_Click();
}

void F_Browser::navigate(const std::wstring& address)
{
    if (m_web.valid() && SUCCEEDED(m_web.navigate(address))) {
        return;
    }
    // The default browser's loading cannot be seen from here: the busy indicator, started
    // just before, stops before its first tick.
    stopTimer1();
    openOutside(address);
}

// No web engine: the default browser shows the page, and the title says where it went.
void F_Browser::openOutside(const std::wstring& address)
{
    if (address.empty()) {
        return; // nothing to hand to the default browser
    }
    const std::string url = utf8(address);
    // The title is the window's only report, so the shell shows no error box of its own.
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_FLAG_NO_UI;
    shell.hwnd = m_hwnd;
    shell.lpVerb = L"open";
    shell.lpFile = address.c_str();
    shell.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&shell)) {
        setTitle(wide(text::format(text::Id::BrowserOpenedOutside, {url})));
    } else {
        const DWORD error = GetLastError();
        setTitle(wide(text::format(text::Id::BrowserNotOpened, {std::to_string(error), url})));
    }
}

bool F_Browser::findURL(const std::wstring& url)
{
    const HWND combo = GetDlgItem(m_hwnd, kCombo1);
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    const int index =
        behaviour::findEntry(count, url, [combo](int i) { return entryText(combo, i); });
    if (index < 0) {
        return false;
    }
    select(index);
    return true;
}

void F_Browser::WebBrowser1_CommandStateChange(long Command, bool Enable)
{
    int id = 0;
    switch (behaviour::commandStateButton(Command)) {
    case behaviour::NavigationButton::Forward:
        id = kCommand3;
        break;
    case behaviour::NavigationButton::Back:
        id = kCommand2;
        break;
    case behaviour::NavigationButton::None:
        return;
    }
    const HWND button = GetDlgItem(m_hwnd, id);
    // Disabling the button that has the focus leaves the window without one: the next
    // control takes it.
    if (!Enable && GetFocus() == button) {
        SetFocus(GetNextDlgTabItem(m_hwnd, button, FALSE));
    }
    EnableWindow(button, Enable ? TRUE : FALSE);
}

void F_Browser::WebBrowser1_DownloadComplete()
{
    Completion();
    stopTimer1();
    setTitle(m_web.locationName());
}

void F_Browser::WebBrowser1_DocumentComplete(const std::wstring& /*URL*/)
{
    Completion();
    setTitle(m_web.locationName());
}

// Selects the entry of the page on show, if the history has it. Pages reached inside the
// view (links, back, forward) never enter the history.
void F_Browser::Completion()
{
    if (m_hwnd == nullptr) {
        return;
    }
    M_ClickNav = false;
    findURL(m_web.locationURL());
    M_ClickNav = true;
}

} // namespace win32ui
