#include "F_Browser_win32.h"

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

// The web view's own window: the focus that reaches it goes on into the page.
LRESULT CALLBACK webWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE) {
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    }
    if (message == WM_SETFOCUS) {
        if (auto* web = reinterpret_cast<WebHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
            web->focus();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
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
    // The dialog manager's bytes: the focus and Enter on the buttons are Windows' own.
    wc.cbWndExtra = DLGWINDOWEXTRA;
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
    // The page's keys go to the page before the dialog manager sees them.
    addDialogWindow(m_hwnd, [this](MSG& msg) { return m_web.translateKey(msg); });
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
    SetWindowLongPtrW(m_webWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&m_web));
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
            m_behaviour.Timer1_Timer();
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
        SetWindowLongPtrW(m_webWindow, GWLP_USERDATA, 0);
        m_web.close();
        removeDialogWindow(m_hwnd);
        return 0;
    case WM_NCDESTROY: {
        // The dialog manager lets go of the window here.
        const LRESULT result = dialogDefault(m_hwnd, message, wParam, lParam);
        m_hwnd = nullptr;
        return result;
    }
    default:
        break;
    }
    return dialogDefault(m_hwnd, message, wParam, lParam);
}

void F_Browser::onCommand(int id, int code)
{
    // The list reports only the operator's changes of the selection.
    if (id == kCombo1 && code == CBN_SELCHANGE) {
        m_behaviour.Combo1_Click(
            static_cast<int>(SendDlgItemMessageW(m_hwnd, kCombo1, CB_GETCURSEL, 0, 0)));
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

void F_Browser::insertEntry(int index, const std::string& text)
{
    SendDlgItemMessageW(m_hwnd, kCombo1, CB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(wide(text).c_str()));
}

void F_Browser::removeEntry(int index)
{
    SendDlgItemMessageW(m_hwnd, kCombo1, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

// CB_SETCURSEL tells nobody: the window's own selection navigates nowhere.
void F_Browser::selectEntry(int index)
{
    SendDlgItemMessageW(m_hwnd, kCombo1, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void F_Browser::setButtonEnabled(Button which, bool enabled)
{
    const HWND button = GetDlgItem(m_hwnd, which == Button::Command2 ? kCommand2 : kCommand3);
    // Disabling the button that has the focus leaves the window without one: the next control
    // takes it.
    if (!enabled && GetFocus() == button) {
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(button, enabled ? TRUE : FALSE);
}

void F_Browser::setTimerInterval(int milliseconds)
{
    if (milliseconds > 0) {
        SetTimer(m_hwnd, kTimer1, static_cast<UINT>(milliseconds), nullptr);
    } else {
        KillTimer(m_hwnd, kTimer1);
    }
}

unsigned long F_Browser::openOutside(const std::string& url)
{
    const std::wstring address = wide(url);
    // The title is the window's only report, so the shell shows no error box of its own.
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_FLAG_NO_UI;
    shell.hwnd = m_hwnd;
    shell.lpVerb = L"open";
    shell.lpFile = address.c_str();
    shell.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&shell) ? 0 : GetLastError();
}

} // namespace win32ui
