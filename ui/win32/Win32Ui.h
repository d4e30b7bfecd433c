#pragma once

// What the three Win32 windows share: UTF-8/UTF-16 at the edge, geometry in twips scaled to
// the window's DPI, the fonts the window definitions name, and child controls made from a
// table whose order is the tab order.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "Texts.h"
#include "Utf16.h"

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace win32ui {

using winnet::utf8;
using winnet::wide;
std::wstring wtr(text::Id id);

/// Left, top, width, height in twips (1/1440 inch), from the top-left of the client area.
struct Twips {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

/// Twips to pixels at dpi (15 twips a pixel at 96 dpi), rounded to the nearest pixel.
int pixels(int twips, UINT dpi);
RECT pixels(const Twips& at, UINT dpi);

/// The faces the window definitions name; Ui is the windows' default user-interface font.
enum class Face { Ui, Octet, Mac, List, Count };

/// The fonts of one window at its DPI; made again when the DPI changes.
class Fonts {
public:
    Fonts() = default;
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    void make(UINT dpi);
    HFONT operator[](Face face) const { return m_fonts[static_cast<int>(face)]; }

private:
    void release();
    std::array<HFONT, static_cast<int>(Face::Count)> m_fonts{};
};

/// One child control of a window definition.
struct ControlDef {
    int id;
    const wchar_t* windowClass;
    DWORD style;
    Twips at;
    Face face = Face::Ui;
    std::optional<text::Id> caption = std::nullopt;
    DWORD exStyle = 0;
};

/// Creates the controls in table order, which is also their tab order (the dialog manager
/// walks the children in creation order).
void createControls(HWND parent, std::span<const ControlDef> defs, const Fonts& fonts, UINT dpi);
/// Moves the controls and gives them their fonts again, after a DPI change.
void placeControls(HWND parent, std::span<const ControlDef> defs, const Fonts& fonts, UINT dpi);

/// The outer size of a window whose client area is width × height twips.
SIZE outerSize(int widthTwips, int heightTwips, DWORD style, DWORD exStyle, UINT dpi);

/// Adds a tool tip to a control of parent.
void addToolTip(HWND tips, HWND parent, int id, const std::wstring& text);
HWND createToolTips(HWND parent);

/// A message box owned by owner, with the texts in UTF-8.
int messageBox(HWND owner, const std::string& text, const std::string& title, UINT flags);

/// The window procedure of windows that belong to an object of T (which befriends this
/// class): the object comes with the window's first message, CreateWindowExW's last argument
/// in WM_NCCREATE (a dialog's: DialogBox…ParamW's in WM_INITDIALOG), and is kept with the
/// window. From that message on, T's m_hwnd is the window and T::handle takes every message;
/// earlier ones get the default handling.
template <typename T> class OwnedWindow {
public:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        T* arriving =
            message == WM_NCCREATE
                ? static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)
                : nullptr;
        T* self = owner(hwnd, GWLP_USERDATA, arriving);
        return self == nullptr ? DefWindowProcW(hwnd, message, wParam, lParam)
                               : self->handle(message, wParam, lParam);
    }

    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        T* arriving = message == WM_INITDIALOG ? reinterpret_cast<T*>(lParam) : nullptr;
        T* self = owner(hwnd, DWLP_USER, arriving);
        return self == nullptr ? FALSE : self->handle(message, wParam, lParam);
    }

private:
    static T* owner(HWND hwnd, int slot, T* arriving)
    {
        if (arriving == nullptr) {
            return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, slot));
        }
        arriving->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, slot, reinterpret_cast<LONG_PTR>(arriving));
        return arriving;
    }
};

} // namespace win32ui

namespace win32ui {

/// The default handling of a window that the dialog manager runs (its class registered with
/// DLGWINDOWEXTRA bytes): DefDlgProcW keeps the focus, the default button and Enter as in a
/// dialog box; only the close box still closes the window, as in a plain one.
LRESULT dialogDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// Takes a key message before the dialog manager does; true when it has used it.
using KeyTaker = std::function<bool(MSG& msg)>;
/// The windows whose keyboard interface (Tab, Enter, Esc) the dialog manager runs from the
/// message loop; a modal dialog runs its own. keysFirst, when given, sees each message for
/// the window first (the web view's keys for its page).
void addDialogWindow(HWND window, KeyTaker keysFirst = {});
void removeDialogWindow(HWND window);
/// Handles msg as the dialog manager of its window would; false when it is an ordinary one.
bool dialogMessage(MSG& msg);
/// Runs the pending messages through the dialog manager and dispatches them; returns false
/// when WM_QUIT came (it is posted again for the outer loop).
bool pumpMessages();

} // namespace win32ui
