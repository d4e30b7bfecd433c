#include "Win32Ui.h"

namespace win32ui {

std::wstring wtr(text::Id id)
{
    return wide(text::tr(id));
}

int pixels(int twips, UINT dpi)
{
    return MulDiv(twips, static_cast<int>(dpi), 1440);
}

RECT pixels(const Twips& at, UINT dpi)
{
    const int left = pixels(at.left, dpi);
    const int top = pixels(at.top, dpi);
    return {left, top, left + pixels(at.width, dpi), top + pixels(at.height, dpi)};
}

Fonts::~Fonts()
{
    release();
}

void Fonts::release()
{
    for (HFONT& font : m_fonts) {
        if (font != nullptr) {
            DeleteObject(font);
            font = nullptr;
        }
    }
}

void Fonts::make(UINT dpi)
{
    release();
    struct Definition {
        const wchar_t* face;
        int hundredthsOfPoint;
        int weight;
        BYTE charset;
    };
    // Sizes in hundredths of a point: Century is 9.75 pt. The Japanese faces take the
    // Shift-JIS character set, Arial and Century the Western one.
    static constexpr std::array<Definition, static_cast<int>(Face::Count)> kFaces{{
        {L"MS UI Gothic", 900, FW_NORMAL, SHIFTJIS_CHARSET},
        {L"Arial", 900, FW_NORMAL, ANSI_CHARSET},
        {L"Century", 975, FW_BOLD, ANSI_CHARSET},
        {L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF", 900, FW_NORMAL,
         SHIFTJIS_CHARSET}, // ＭＳ ゴシック
    }};
    for (std::size_t i = 0; i < kFaces.size(); ++i) {
        const Definition& d = kFaces[i];
        m_fonts[i] = CreateFontW(-MulDiv(d.hundredthsOfPoint, static_cast<int>(dpi), 7200), 0, 0, 0,
                                 d.weight, FALSE, FALSE, FALSE, d.charset, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, d.face);
    }
}

void createControls(HWND parent, std::span<const ControlDef> defs, const Fonts& fonts, UINT dpi)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const ControlDef& def : defs) {
        const RECT r = pixels(def.at, dpi);
        const std::wstring caption = def.caption ? wtr(*def.caption) : std::wstring{};
        const HWND control = CreateWindowExW(
            def.exStyle, def.windowClass, caption.c_str(), WS_CHILD | def.style, r.left, r.top,
            r.right - r.left, r.bottom - r.top, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[def.face]), FALSE);
    }
}

void placeControls(HWND parent, std::span<const ControlDef> defs, const Fonts& fonts, UINT dpi)
{
    for (const ControlDef& def : defs) {
        const HWND control = GetDlgItem(parent, def.id);
        const RECT r = pixels(def.at, dpi);
        SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[def.face]), TRUE);
    }
}

SIZE outerSize(int widthTwips, int heightTwips, DWORD style, DWORD exStyle, UINT dpi)
{
    RECT r{0, 0, pixels(widthTwips, dpi), pixels(heightTwips, dpi)};
    AdjustWindowRectExForDpi(&r, style, FALSE, exStyle, dpi);
    return {r.right - r.left, r.bottom - r.top};
}

HWND createToolTips(HWND parent)
{
    return CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

void addToolTip(HWND tips, HWND parent, int id, const std::wstring& text)
{
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = parent;
    info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(parent, id));
    info.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

int messageBox(HWND owner, const std::string& text, const std::string& title, UINT flags)
{
    return MessageBoxW(owner, wide(text).c_str(), wide(title).c_str(), flags);
}

} // namespace win32ui

#include <algorithm>
#include <utility>
#include <vector>

namespace win32ui {

namespace {
struct DialogWindow {
    HWND window;
    KeyTaker keysFirst;
};
std::vector<DialogWindow> g_dialogWindows;
} // namespace

LRESULT dialogDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // DefDlgProcW would turn the close box into Esc, which a disabled Exit refuses.
    if (message == WM_CLOSE) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return DefDlgProcW(window, message, wParam, lParam);
}

void addDialogWindow(HWND window, KeyTaker keysFirst)
{
    g_dialogWindows.push_back({window, std::move(keysFirst)});
}

void removeDialogWindow(HWND window)
{
    std::erase_if(g_dialogWindows, [window](const DialogWindow& d) { return d.window == window; });
}

bool dialogMessage(MSG& msg)
{
    const auto it = std::find_if(
        g_dialogWindows.begin(), g_dialogWindows.end(),
        [&msg](const DialogWindow& d) { return msg.hwnd == d.window || IsChild(d.window, msg.hwnd); });
    if (it == g_dialogWindows.end()) {
        return false;
    }
    const HWND window = it->window;
    // A copy: the taker may open or close windows, and with them change the list.
    const KeyTaker keysFirst = it->keysFirst;
    if (keysFirst && keysFirst(msg)) {
        return true;
    }
    return IsDialogMessageW(window, &msg) != FALSE;
}

bool pumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (!dialogMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

} // namespace win32ui
