#include "F_Main_win32.h"

#include "F_Browser_win32.h"
#include "F_Config_win32.h"
#include "resource.h"

namespace win32ui {

namespace {

constexpr wchar_t kClass[] = L"TorvaneMain";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 4935;
constexpr int kClientHeight = 2175;
constexpr UINT_PTR kTimer1 = 1;

enum : int {
    kCommand1 = 101,
    kCommand2,
    kCommand3,
    kText1,
    kImgCard,
    kImgAniBuf,
};

// In tab order: Start, Stop, Exit, the status box; the pictures take no focus.
const ControlDef kControls[] = {
    {kCommand1,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     {360, 1680, 1335, 375},
     Face::Ui,
     text::Id::MainStart},
    {kCommand2,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON,
     {1800, 1680, 1335, 375},
     Face::Ui,
     text::Id::MainStop},
    {kCommand3,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {3240, 1680, 1335, 375},
     Face::Ui,
     text::Id::MainExit},
    {kText1,
     L"EDIT",
     WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY,
     {360, 960, 4215, 495},
     Face::Ui,
     std::nullopt,
     WS_EX_CLIENTEDGE},
    {kImgCard, L"STATIC", WS_VISIBLE | SS_OWNERDRAW, {1755, 240, 480, 480}},
    {kImgAniBuf, L"STATIC", WS_VISIBLE | SS_OWNERDRAW, {2280, 240, 960, 480}},
};

// The status box is multi-line and read-only: it lets Tab, Enter and Esc reach the window,
// as a one-line box would, so that the default and cancel buttons keep working there. Tab
// leaves its text unselected, as in the Qt window.
LRESULT CALLBACK statusBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR)
{
    if (message == WM_GETDLGCODE) {
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void call(const std::function<void()>& handler)
{
    if (handler) {
        handler();
    }
}

} // namespace

F_Main::F_Main() = default;

F_Main::~F_Main()
{
    m_browser.reset();
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
    }
}

int F_Main::idOf(Button button)
{
    switch (button) {
    case Button::Command1:
        return kCommand1;
    case Button::Command2:
        return kCommand2;
    case Button::Command3:
        break;
    }
    return kCommand3;
}

bool F_Main::create(int showCommand)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = OwnedWindow<F_Main>::windowProc;
    // The dialog manager's bytes: focus, default button, Enter and Esc are Windows' own.
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hIcon = loadIcon(IDI_TORVANE, GetSystemMetrics(SM_CXICON));
    wc.hIconSm = loadIcon(IDI_TORVANE, GetSystemMetrics(SM_CXSMICON));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);

    // Created hidden at the primary monitor's DPI, then sized and centred for the DPI of
    // the monitor it is on.
    m_hwnd = CreateWindowExW(kExStyle, kClass, L"Torvane", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    const SIZE outer = outerSize(kClientWidth, kClientHeight, kStyle, kExStyle, m_dpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(m_hwnd, nullptr, work.left + (work.right - work.left - outer.cx) / 2,
                 work.top + (work.bottom - work.top - outer.cy) / 2, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    addDialogWindow(m_hwnd);
    call(handlers.Form_Load);
    ShowWindow(m_hwnd, showCommand);
    // The first control in tab order that can take the focus, Start, takes Enter while it
    // has the focus; Exit stays the default button.
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hwnd, kCommand1)),
                 TRUE);
    return true;
}

void F_Main::onCreate()
{
    m_dpi = GetDpiForWindow(m_hwnd);
    m_fonts.make(m_dpi);
    createControls(m_hwnd, kControls, m_fonts, m_dpi);
    SetWindowSubclass(GetDlgItem(m_hwnd, kText1), statusBoxProc, 0, 0);
    SendMessageW(m_hwnd, DM_SETDEFID, kCommand3, 0);
    m_card = Picture(IDB_CARD);
    for (int i = 0; i < static_cast<int>(ImgAni.size()); ++i) {
        ImgAni[static_cast<std::size_t>(i)] = Picture(IDB_FRAME0 + i);
    }
    m_tips = createToolTips(m_hwnd);
    addToolTip(m_tips, m_hwnd, kCommand1, wtr(text::Id::MainStartTip));
    addToolTip(m_tips, m_hwnd, kCommand2, wtr(text::Id::MainStopTip));
    addToolTip(m_tips, m_hwnd, kCommand3, wtr(text::Id::MainExitTip));
}

LRESULT F_Main::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onCreate();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        drawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == kTimer1) {
            call(handlers.Timer1_Timer);
        }
        return 0;
    case WM_DPICHANGED:
        changeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        call(handlers.Form_Unload);
        m_browser.reset();
        removeDialogWindow(m_hwnd);
        PostQuitMessage(0);
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

void F_Main::onCommand(int id, int code)
{
    if (code != BN_CLICKED && id != IDCANCEL) {
        return;
    }
    switch (id) {
    case kCommand1:
        call(handlers.Command1_Click);
        break;
    case kCommand2:
        call(handlers.Command2_Click);
        break;
    case IDCANCEL: // Esc: Exit is the window's cancel button.
        if (!IsWindowEnabled(GetDlgItem(m_hwnd, kCommand3))) {
            break;
        }
        [[fallthrough]];
    case kCommand3:
        if (handlers.Command3_Click) {
            handlers.Command3_Click();
        } else {
            unload();
        }
        break;
    default:
        break;
    }
}

void F_Main::drawPicture(const DRAWITEMSTRUCT& item)
{
    const RECT& r = item.rcItem;
    FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    const Picture& picture =
        item.CtlID == kImgCard ? m_card : ImgAni[static_cast<std::size_t>(m_frame)];
    picture.draw(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void F_Main::changeDpi(UINT dpi, const RECT& suggested)
{
    m_dpi = dpi;
    m_fonts.make(dpi);
    placeControls(m_hwnd, kControls, m_fonts, dpi);
    SetWindowPos(m_hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void F_Main::setButtonEnabled(Button button, bool enabled)
{
    EnableWindow(GetDlgItem(m_hwnd, idOf(button)), enabled ? TRUE : FALSE);
}

void F_Main::setDefaultButton(Button button)
{
    SendMessageW(m_hwnd, DM_SETDEFID, static_cast<WPARAM>(idOf(button)), 0);
}

void F_Main::setButtonFocus(Button button)
{
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hwnd, idOf(button))),
                 TRUE);
}

void F_Main::setTimerInterval(int milliseconds)
{
    if (milliseconds <= 0) {
        KillTimer(m_hwnd, kTimer1);
    } else {
        SetTimer(m_hwnd, kTimer1, static_cast<UINT>(milliseconds), nullptr);
    }
}

void F_Main::showFrame(int index)
{
    if (index < 0 || index >= static_cast<int>(ImgAni.size())) {
        return;
    }
    m_frame = index;
    InvalidateRect(GetDlgItem(m_hwnd, kImgAniBuf), nullptr, FALSE);
}

void F_Main::setStatus(const std::string& text)
{
    SetDlgItemTextW(m_hwnd, kText1, wide(text).c_str());
}

void F_Main::setInputBlocked(bool blocked)
{
    EnableWindow(m_hwnd, blocked ? FALSE : TRUE);
}

void F_Main::showMessage(Icon icon, const std::string& title, const std::string& text)
{
    messageBox(m_hwnd, text, title,
               MB_OK | (icon == Icon::Critical ? MB_ICONERROR : MB_ICONWARNING));
}

bool F_Main::askQuestion(const std::string& title, const std::string& text)
{
    // No is the default button: Enter alone does not change the PC's network.
    return messageBox(m_hwnd, text, title, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

behaviour::Assignment F_Main::showSettingsDialog(const behaviour::PublicArea& area)
{
    F_Config dialog(area);
    dialog.run(m_hwnd);
    return dialog.result();
}

void F_Main::processEvents()
{
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    pumpMessages();
}

std::string F_Main::browserStartFailure()
{
    // The window always opens: without a web engine it hands the page to the default browser.
    return {};
}

void F_Main::openPage(const std::string& url)
{
    if (!m_browser || !m_browser->open()) {
        m_browser = std::make_unique<F_Browser>();
        m_browser->create();
    }
    m_browser->addURL(url);
}

void F_Main::unloadBrowser()
{
    m_browser.reset();
}

void F_Main::unload()
{
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
    }
}

} // namespace win32ui
