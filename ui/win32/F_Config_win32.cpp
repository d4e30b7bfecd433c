#include "F_Config_win32.h"

#include "Pictures.h"
#include "resource.h"

#include <algorithm>
#include <utility>

namespace win32ui {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr int kClientWidth = 5895;
constexpr int kClientHeight = 3495;
constexpr UINT kActivated = WM_APP + 1;

// Cancel carries IDCANCEL, so that Esc and the close box reach Cancel's handler: a dialog
// closed by its close box counts as cancelled.
enum : int {
    kCommand1 = IDCANCEL,
    kCommand2 = 401,
    kCSetBrw,
    kImage2,
    kLMacAddr,
    kBox0 = 410, ///< T_IpAddr 0-3, T_SbMask 0-3, T_GateWay 0-3
    kLabel = 430,
};

constexpr DWORD kBox = WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_AUTOHSCROLL;
constexpr DWORD kRightLabel = WS_VISIBLE | SS_RIGHT | SS_NOPREFIX;
constexpr DWORD kDot = WS_VISIBLE | SS_CENTER | SS_NOPREFIX;

// In tab order: the check box, Set, Cancel, the twelve boxes group by group; then the labels.
const ControlDef kControls[] = {
    {kCSetBrw,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
     {480, 2400, 3015, 255},
     Face::Ui,
     text::Id::ConfigOpenBrowser},
    {kCommand2,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     {4440, 2880, 1215, 375},
     Face::Ui,
     text::Id::ConfigSet},
    {kCommand1,
     L"BUTTON",
     WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {3000, 2880, 1215, 375},
     Face::Ui,
     text::Id::ConfigCancel},
    {kBox0 + 0, L"EDIT", kBox, {3000, 720, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 1, L"EDIT", kBox, {3720, 720, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 2, L"EDIT", kBox, {4440, 720, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 3, L"EDIT", kBox, {5160, 720, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 4, L"EDIT", kBox, {3000, 1200, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 5, L"EDIT", kBox, {3720, 1200, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 6, L"EDIT", kBox, {4440, 1200, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 7, L"EDIT", kBox, {5160, 1200, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 8, L"EDIT", kBox, {3000, 1680, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 9, L"EDIT", kBox, {3720, 1680, 495, 270}, Face::Octet, std::nullopt, WS_EX_CLIENTEDGE},
    {kBox0 + 10,
     L"EDIT",
     kBox,
     {4440, 1680, 495, 270},
     Face::Octet,
     std::nullopt,
     WS_EX_CLIENTEDGE},
    {kBox0 + 11,
     L"EDIT",
     kBox,
     {5160, 1680, 495, 270},
     Face::Octet,
     std::nullopt,
     WS_EX_CLIENTEDGE},
    {kLabel + 1,
     L"STATIC",
     kRightLabel,
     {1080, 240, 1815, 255},
     Face::Ui,
     text::Id::ConfigMacLabel},
    {kLMacAddr, L"STATIC", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, {3000, 195, 2655, 255}, Face::Mac},
    {kLabel + 2, L"STATIC", kRightLabel, {960, 760, 1935, 255}, Face::Ui, text::Id::ConfigIpLabel},
    {kLabel + 6,
     L"STATIC",
     kRightLabel,
     {720, 1240, 2175, 255},
     Face::Ui,
     text::Id::ConfigMaskLabel},
    {kLabel + 7,
     L"STATIC",
     kRightLabel,
     {720, 1720, 2175, 255},
     Face::Ui,
     text::Id::ConfigGatewayLabel},
    {kLabel + 3, L"STATIC", kDot, {3495, 820, 255, 255}},
    {kLabel + 4, L"STATIC", kDot, {4215, 820, 255, 255}},
    {kLabel + 5, L"STATIC", kDot, {4965, 820, 255, 255}},
    {kLabel + 10, L"STATIC", kDot, {3500, 1320, 255, 255}},
    {kLabel + 9, L"STATIC", kDot, {4220, 1320, 255, 255}},
    {kLabel + 8, L"STATIC", kDot, {4970, 1320, 255, 255}},
    {kLabel + 13, L"STATIC", kDot, {3500, 1800, 255, 255}},
    {kLabel + 12, L"STATIC", kDot, {4220, 1800, 255, 255}},
    {kLabel + 11, L"STATIC", kDot, {4970, 1800, 255, 255}},
    {kImage2, L"STATIC", WS_VISIBLE | SS_ICON | SS_REALSIZECONTROL, {240, 240, 480, 480}},
};

// Line1 and Line2: the etched rule between the address rows and the check box, in twips.
constexpr int kLine1Top = 2160;
constexpr int kLine2Top = 2175;
constexpr int kLineRight = 5880;

constexpr wchar_t kDotText[] = L"\xFF0E"; // "．"

// Notes where the focus goes when a box loses it (data: the dialog's m_focusTo), before the
// box tells the dialog.
LRESULT CALLBACK boxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                         DWORD_PTR data)
{
    if (message == WM_KILLFOCUS) {
        *reinterpret_cast<HWND*>(data) = reinterpret_cast<HWND>(wParam);
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

bool F_Config::run(HWND owner)
{
    // An empty template: the controls come from the table in WM_INITDIALOG, sized for the
    // dialog's DPI.
    struct alignas(DWORD) Template {
        DLGTEMPLATE dialog;
        WORD menu, windowClass, title;
    } blank{};
    // Visible at once after WM_INITDIALOG, so that Form_Activate finds it shown.
    blank.dialog.style = kStyle | WS_VISIBLE;
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &blank.dialog, owner,
                                OwnedWindow<F_Config>::dialogProc, reinterpret_cast<LPARAM>(this));
    return result == kCommand2;
}

void F_Config::onInit(HWND owner)
{
    m_dpi = GetDpiForWindow(m_hwnd);
    m_fonts.make(m_dpi);
    SetWindowTextW(m_hwnd, wtr(text::Id::ConfigTitle).c_str());
    m_icon = loadIcon(IDI_TORVANE, 32);
    m_smallIcon = loadIcon(IDI_TORVANE, 16);
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    createControls(m_hwnd, kControls, m_fonts, m_dpi);
    for (int i = 0; i < 12; ++i) {
        SendDlgItemMessageW(m_hwnd, kBox0 + i, EM_LIMITTEXT, 3, 0);
        SetWindowSubclass(GetDlgItem(m_hwnd, kBox0 + i), boxProc, 0,
                          reinterpret_cast<DWORD_PTR>(&m_focusTo));
    }
    for (int id : {3, 4, 5, 8, 9, 10, 11, 12, 13}) {
        SetDlgItemTextW(m_hwnd, kLabel + id, kDotText);
    }
    CheckDlgButton(m_hwnd, kCSetBrw, BST_CHECKED);
    SendDlgItemMessageW(m_hwnd, kImage2, STM_SETICON, reinterpret_cast<WPARAM>(m_icon), 0);
    SendMessageW(m_hwnd, DM_SETDEFID, kCommand1, 0);

    // Centred on the owner, the main window.
    const SIZE outer = outerSize(kClientWidth, kClientHeight, kStyle, 0, m_dpi);
    RECT around{};
    GetWindowRect(owner != nullptr ? owner : GetDesktopWindow(), &around);
    SetWindowPos(m_hwnd, nullptr, (around.left + around.right - outer.cx) / 2,
                 (around.top + around.bottom - outer.cy) / 2, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    m_core.Form_Load();
    SetFocus(GetDlgItem(m_hwnd, kCSetBrw));
}

INT_PTR F_Config::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        onInit(GetWindow(m_hwnd, GW_OWNER));
        return FALSE; // onInit placed the focus
    case WM_ACTIVATE:
        // Form_Activate runs once, after the first activation has finished.
        if (!m_activated && LOWORD(wParam) != WA_INACTIVE) {
            PostMessageW(m_hwnd, kActivated, 0, 0);
        }
        return FALSE;
    case kActivated:
        if (!m_activated) {
            m_activated = true;
            m_core.Form_Activate();
        }
        return TRUE;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_PAINT:
        paintRule();
        return TRUE;
    case WM_DPICHANGED: {
        m_dpi = HIWORD(wParam);
        m_fonts.make(m_dpi);
        placeControls(m_hwnd, kControls, m_fonts, m_dpi);
        const RECT& r = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
    }
    case WM_DESTROY:
        m_core.Form_Unload();
        if (m_icon != nullptr) {
            DestroyIcon(m_icon);
            DestroyIcon(m_smallIcon);
        }
        return FALSE;
    default:
        break;
    }
    return FALSE;
}

void F_Config::onCommand(int id, int code)
{
    if (id >= kBox0 && id < kBox0 + 12) {
        const auto group = static_cast<Group>((id - kBox0) / 4);
        const auto index = static_cast<short>((id - kBox0) % 4);
        if (code == EN_CHANGE) {
            // The box reports retyping that leaves its text as it was; only a real change
            // counts. Nested changes arrive here again before change() returns.
            std::u16string& seen = m_texts[static_cast<std::size_t>(id - kBox0)];
            std::u16string now = boxText(group, index);
            if (now != seen) {
                seen = std::move(now);
                m_core.change(group, index);
            }
        } else if (code == EN_KILLFOCUS && m_focusTo != nullptr && IsChild(m_hwnd, m_focusTo)) {
            // Only a move to another control of this dialog: the confirmation opening or
            // another program becoming active leaves the box's text as it is.
            m_core.lostFocus(group, index);
        }
        return;
    }
    if (id == kCommand1) {
        m_core.Command1_Click();
    } else if (id == kCommand2 && code == BN_CLICKED) {
        m_core.Command2_Click();
    }
}

void F_Config::paintRule()
{
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(m_hwnd, &paint);
    const int right = pixels(kLineRight, m_dpi);
    const int width = std::max(1, pixels(15, m_dpi));
    const RECT line1{0, pixels(kLine1Top, m_dpi), right, pixels(kLine1Top, m_dpi) + width};
    const RECT line2{0, pixels(kLine2Top, m_dpi), right, pixels(kLine2Top, m_dpi) + width};
    FillRect(dc, &line1, GetSysColorBrush(COLOR_BTNSHADOW));
    FillRect(dc, &line2, GetSysColorBrush(COLOR_3DHILIGHT));
    EndPaint(m_hwnd, &paint);
}

HWND F_Config::box(Group group, int index) const
{
    return GetDlgItem(m_hwnd, kBox0 + static_cast<int>(group) * 4 + index);
}

std::u16string F_Config::boxText(Group group, int index) const
{
    const HWND b = box(group, index);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(b)), L'\0');
    GetWindowTextW(b, text.data(), static_cast<int>(text.size()) + 1);
    return {text.begin(), text.end()};
}

void F_Config::setBoxText(Group group, int index, const std::u16string& text)
{
    // The edit control reports EN_CHANGE for any WM_SETTEXT; the change handler runs only
    // when the text really differs.
    if (boxText(group, index) == text) {
        return;
    }
    const std::wstring wtext(text.begin(), text.end());
    SetWindowTextW(box(group, index), wtext.c_str());
}

int F_Config::caret(Group group, int index) const
{
    DWORD start = 0;
    SendMessageW(box(group, index), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    return static_cast<int>(start);
}

void F_Config::setCaret(Group group, int index, int position)
{
    SendMessageW(box(group, index), EM_SETSEL, static_cast<WPARAM>(position),
                 static_cast<LPARAM>(position));
}

void F_Config::focusBox(Group group, int index)
{
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box(group, index)), TRUE);
}

void F_Config::makeSetDefault()
{
    SendMessageW(m_hwnd, DM_SETDEFID, kCommand2, 0);
    SendDlgItemMessageW(m_hwnd, kCommand1, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageW(m_hwnd, kCommand2, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void F_Config::focusSet()
{
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hwnd, kCommand2)),
                 TRUE);
}

void F_Config::setMacText(const std::string& text)
{
    SetDlgItemTextW(m_hwnd, kLMacAddr, wide(text).c_str());
}

bool F_Config::openBrowserChecked() const
{
    return IsDlgButtonChecked(m_hwnd, kCSetBrw) == BST_CHECKED;
}

bool F_Config::confirm(const std::string& title, const std::string& text)
{
    return messageBox(m_hwnd, text, title, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void F_Config::closeDialog(bool set)
{
    EndDialog(m_hwnd, set ? kCommand2 : kCommand1);
}

} // namespace win32ui
