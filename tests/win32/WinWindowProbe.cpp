// Looks at torvane.exe's windows from beside it, in the same Wine session, as the operator
// would meet them: captions, client sizes, the controls' texts, places and states, the focus
// as Tab moves it, Esc and Enter, and a screenshot of each window. Prints one line a check;
// the exit status is the number of failed checks.
//   win_window_probe resources TORVANE_EXE
//   win_window_probe main-dpi DPI [--shot FILE.bmp]
//   win_window_probe (main|config|config-enter|confirm|browser) [--english] [--shot FILE.bmp]
//   [--mac TEXT] [--url URL]
//                    [--no-web-engine]
//   win_window_probe operate --octet N [--shot FILE.bmp] [--card-shot FILE.bmp]
#include "Texts.h"
#include "Utf16.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

namespace {

int g_failures = 0;

using winnet::utf8;
using winnet::wide;

void check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++g_failures;
    }
}

template <typename T> void expectEqual(const T& actual, const T& expected, const std::string& what)
{
    if constexpr (std::is_same_v<T, std::string>) {
        check(actual == expected, what + ": '" + actual + "'" +
                                      (actual == expected ? "" : ", expected '" + expected + "'"));
    } else {
        check(actual == expected,
              what + ": " + std::to_string(actual) +
                  (actual == expected ? "" : ", expected " + std::to_string(expected)));
    }
}

HWND waitFor(const wchar_t* windowClass, const wchar_t* title, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        HWND w = FindWindowW(windowClass, title);
        if (w != nullptr && IsWindowVisible(w)) {
            Sleep(300); // let it paint
            return w;
        }
        Sleep(100);
    }
    return nullptr;
}

bool waitGone(HWND w, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (!IsWindow(w)) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

std::string textOf(HWND w)
{
    wchar_t buffer[512] = {};
    SendMessageW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
    return utf8(buffer);
}

std::string classOf(HWND w)
{
    wchar_t buffer[128] = {};
    GetClassNameW(w, buffer, 128);
    return utf8(buffer);
}

RECT placeIn(HWND parent, HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top}; // left, top, width, height
}

std::string describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) +
           "x" + std::to_string(r.bottom);
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        out.push_back(c);
    }
    return out;
}

HWND childAt(HWND parent, const std::string& windowClass, RECT at)
{
    for (HWND c : children(parent)) {
        const RECT r = placeIn(parent, c);
        if (classOf(c) == windowClass && r.left == at.left && r.top == at.top) {
            return c;
        }
    }
    return nullptr;
}

struct Expected {
    const char* windowClass;
    RECT at; // left, top, width, height in pixels at 96 dpi
    std::string text;
    bool enabled = true;
};

HWND expectControl(HWND parent, const Expected& e)
{
    const HWND c = childAt(parent, e.windowClass, e.at);
    const std::string name = std::string(e.windowClass) + " at " + describe(e.at);
    check(c != nullptr, name + " exists");
    if (c == nullptr) {
        return nullptr;
    }
    expectEqual(describe(placeIn(parent, c)), describe(e.at), name + " size");
    expectEqual(textOf(c), e.text, name + " text");
    expectEqual<int>(IsWindowEnabled(c) != FALSE, e.enabled, name + " enabled");
    return c;
}

// The tools of the tool-tip window that belongs to w.
long long toolCount(HWND w)
{
    for (HWND tips = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); tips != nullptr;
         tips = FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr)) {
        if (GetWindow(tips, GW_OWNER) == w) {
            return SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0);
        }
    }
    return -1;
}

SIZE clientSize(HWND w)
{
    RECT r{};
    GetClientRect(w, &r);
    return {r.right, r.bottom};
}

HWND focusOf(HWND w)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info);
    return info.hwndFocus;
}

void key(HWND w, UINT vk)
{
    HWND target = focusOf(w);
    if (target == nullptr) {
        target = w;
    }
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    Sleep(300);
}

void typeChar(HWND target, wchar_t c)
{
    PostMessageW(target, WM_CHAR, c, 1);
    Sleep(100);
}

LONG style(HWND w)
{
    return GetWindowLongW(w, GWL_STYLE);
}

bool isDefault(HWND button)
{
    return (style(button) & 0x0F) == BS_DEFPUSHBUTTON;
}

// The window with its frame, from the screen, as a 24-bit BMP.
void screenshot(HWND w, const std::string& path)
{
    SetForegroundWindow(w);
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500);
    RECT r{};
    GetWindowRect(w, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + 40 + size), 0, 0,
                          static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + 40)};
    FILE* f = std::fopen(path.c_str(), "wb");
    check(f != nullptr, "screenshot " + path + " written");
    if (f != nullptr) {
        std::fwrite(&file, sizeof file, 1, f);
        std::fwrite(&info.bmiHeader, 40, 1, f);
        std::fwrite(bits, size, 1, f);
        std::fclose(f);
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

struct Options {
    std::string shot;
    std::string mac = "00-C0-B7-12-34-56";
    std::string url = "http://127.0.0.1:9/";
    std::string octet = "123";
    std::string cardShot;
    bool fallback = false;
};

std::string label(text::Id id)
{
    return text::tr(id);
}

HWND mainWindow()
{
    const HWND main = waitFor(L"TorvaneMain", nullptr, 30);
    check(main != nullptr, "main window shown");
    return main;
}

void checkMain(const Options& options)
{
    const HWND main = mainWindow();
    if (main == nullptr) {
        return;
    }
    expectEqual(textOf(main), std::string("Torvane"), "main title");
    const SIZE client = clientSize(main);
    expectEqual(describe({0, 0, client.cx, client.cy}), std::string("0,0 329x145"), "main client");
    const LONG s = style(main);
    check((s & WS_MINIMIZEBOX) && !(s & WS_MAXIMIZEBOX) && !(s & WS_THICKFRAME) && (s & WS_SYSMENU),
          "main: fixed frame, minimise only, system menu");
    RECT outer{};
    GetWindowRect(main, &outer);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    check(std::abs((outer.left + outer.right) - (work.left + work.right)) <= 2 &&
              std::abs((outer.top + outer.bottom) - (work.top + work.bottom)) <= 2,
          "main centred on the screen");

    const HWND start =
        expectControl(main, {"Button", {24, 112, 89, 25}, label(text::Id::MainStart)});
    expectControl(main, {"Button", {120, 112, 89, 25}, label(text::Id::MainStop), false});
    const HWND exit =
        expectControl(main, {"Button", {216, 112, 89, 25}, label(text::Id::MainExit)});
    const HWND status = expectControl(main, {"Edit", {24, 64, 281, 33}, ""});
    expectControl(main, {"Static", {117, 16, 32, 32}, ""});
    expectControl(main, {"Static", {152, 16, 64, 32}, ""});
    if (exit != nullptr && status != nullptr) {
        check(isDefault(exit), "Exit is the default button");
        check((style(status) & ES_READONLY) && (style(status) & ES_MULTILINE),
              "status box multi-line and read-only");
    }
    check(focusOf(main) == start, "Start has the focus");
    expectEqual<long long>(toolCount(main), 3, "tool tips on Start, Stop and Exit");
    if (!options.shot.empty()) {
        screenshot(main, options.shot);
    }
    // Tab skips the disabled Stop: Start, Exit, the status box, Start again.
    key(main, VK_TAB);
    check(focusOf(main) == exit, "Tab: Exit");
    key(main, VK_TAB);
    check(focusOf(main) == status, "Tab: the status box");
    key(main, VK_TAB);
    check(focusOf(main) == start, "Tab: back to Start");
    key(main, VK_ESCAPE);
    check(waitGone(main, 10), "Esc: Exit closes the main window");
}

void checkConfig(const Options& options)
{
    const HWND main = mainWindow();
    const std::wstring title = wide(text::tr(text::Id::ConfigTitle));
    const HWND dialog = waitFor(L"#32770", title.c_str(), 20);
    check(dialog != nullptr, "settings dialog shown");
    if (main == nullptr || dialog == nullptr) {
        return;
    }
    const SIZE client = clientSize(dialog);
    expectEqual(describe({0, 0, client.cx, client.cy}), std::string("0,0 393x233"),
                "dialog client");
    const LONG s = style(dialog);
    check(!(s & WS_MINIMIZEBOX) && !(s & WS_MAXIMIZEBOX) && !(s & WS_THICKFRAME) &&
              (s & WS_SYSMENU),
          "dialog: fixed frame, no minimise or maximise, system menu");
    check(GetWindow(dialog, GW_OWNER) == main, "dialog owned by the main window");
    check(!IsWindowEnabled(main), "main window disabled while the dialog is open (modal)");
    RECT a{}, b{};
    GetWindowRect(main, &a);
    GetWindowRect(dialog, &b);
    check(std::abs((a.left + a.right) - (b.left + b.right)) <= 2 &&
              std::abs((a.top + a.bottom) - (b.top + b.bottom)) <= 2,
          "dialog centred on the main window");

    const HWND check1 =
        expectControl(dialog, {"Button", {32, 160, 201, 17}, label(text::Id::ConfigOpenBrowser)});
    const HWND set =
        expectControl(dialog, {"Button", {296, 192, 81, 25}, label(text::Id::ConfigSet)});
    const HWND cancel =
        expectControl(dialog, {"Button", {200, 192, 81, 25}, label(text::Id::ConfigCancel)});
    expectControl(dialog, {"Static", {72, 16, 121, 17}, label(text::Id::ConfigMacLabel)});
    expectControl(dialog, {"Static", {200, 13, 177, 17}, options.mac});
    expectControl(dialog, {"Static", {64, 51, 129, 17}, label(text::Id::ConfigIpLabel)});
    expectControl(dialog, {"Static", {48, 83, 145, 17}, label(text::Id::ConfigMaskLabel)});
    expectControl(dialog, {"Static", {48, 115, 145, 17}, label(text::Id::ConfigGatewayLabel)});
    expectControl(dialog, {"Static", {16, 16, 32, 32}, ""});
    const std::string dot = "\xEF\xBC\x8E"; // "．"
    for (int top : {55, 88, 120}) {
        for (int left : {233, 281, 331}) {
            expectControl(dialog, {"Static", {left, top, 17, 17}, dot});
        }
    }
    // The behaviour proposes the first three octets of the PC's address (the preview's
    // 192.0.2.10) when the dialog becomes active.
    const char* proposed[] = {"192", "0", "2"};
    std::vector<HWND> boxes;
    for (int top : {48, 80, 112}) {
        for (int left : {200, 248, 296, 344}) {
            const std::string text = boxes.size() < 3 ? proposed[boxes.size()] : "";
            const HWND box = expectControl(dialog, {"Edit", {left, top, 33, 18}, text});
            if (box != nullptr) {
                boxes.push_back(box);
                check((style(box) & ES_CENTER) && SendMessageW(box, EM_GETLIMITTEXT, 0, 0) == 3,
                      "box centred, at most 3 characters");
            }
        }
    }
    if (check1 == nullptr || set == nullptr || cancel == nullptr || boxes.size() != 12) {
        return;
    }
    check(SendMessageW(check1, BM_GETCHECK, 0, 0) == BST_CHECKED, "check box checked");
    check(isDefault(cancel) && !isDefault(set), "Cancel is the default button, Set is not");
    check(focusOf(dialog) == boxes[3], "the fourth IP box has the focus");
    for (wchar_t c : std::wstring(L"2554")) {
        typeChar(boxes[4], c);
    }
    expectEqual(textOf(boxes[4]), std::string("255"), "a fourth character is refused");
    check(focusOf(dialog) == boxes[5], "three digits move the focus on");
    // Tab order: check box, Set, Cancel, the twelve boxes, back to the check box.
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(check1), TRUE);
    Sleep(300);
    check(focusOf(dialog) == check1, "the check box takes the focus");
    std::vector<HWND> order{set, cancel};
    order.insert(order.end(), boxes.begin(), boxes.end());
    order.push_back(check1);
    bool inOrder = true;
    for (HWND expected : order) {
        key(dialog, VK_TAB);
        inOrder = inOrder && focusOf(dialog) == expected;
    }
    check(inOrder, "Tab visits check box, Set, Cancel, the twelve boxes, and wraps");

    if (!options.shot.empty()) {
        screenshot(dialog, options.shot);
    }
    key(dialog, VK_ESCAPE);
    check(waitGone(dialog, 10), "Esc: Cancel closes the dialog");
    check(IsWindow(main) && IsWindowEnabled(main), "main window open and enabled again");
    key(main, VK_ESCAPE);
    check(waitGone(main, 10), "Esc: the main window closes");
}

// At another DPI the window keeps its size in twips: client area and buttons scale with it.
void checkMainAt(int dpi, const Options& options)
{
    const HWND main = mainWindow();
    if (main == nullptr) {
        return;
    }
    const auto px = [dpi](int twips) { return MulDiv(twips, dpi, 1440); };
    const SIZE client = clientSize(main);
    expectEqual(describe({0, 0, client.cx, client.cy}), describe({0, 0, px(4935), px(2175)}),
                "main client at " + std::to_string(dpi) + " dpi");
    expectControl(main,
                  {"Button", {px(360), px(1680), px(1335), px(375)}, label(text::Id::MainStart)});
    expectControl(main,
                  {"Button", {px(3240), px(1680), px(1335), px(375)}, label(text::Id::MainExit)});
    expectControl(main, {"Static", {px(2280), px(240), px(960), px(480)}, ""});
    if (!options.shot.empty()) {
        screenshot(main, options.shot);
    }
    key(main, VK_ESCAPE);
    check(waitGone(main, 10), "Esc: the main window closes");
}

// Completing the IP address makes Set the default; Enter on it asks the confirmation: Yes and
// No, No the default. No returns to the dialog.
void checkConfirmation(const Options& options)
{
    const HWND main = mainWindow();
    const std::wstring dialogTitle = wide(text::tr(text::Id::ConfigTitle));
    const HWND dialog = waitFor(L"#32770", dialogTitle.c_str(), 20);
    check(dialog != nullptr, "settings dialog shown");
    if (main == nullptr || dialog == nullptr) {
        return;
    }
    const HWND box = childAt(dialog, "Edit", {344, 48, 33, 18});
    const HWND set = childAt(dialog, "Button", {296, 192, 81, 25});
    check(box != nullptr && set != nullptr && focusOf(dialog) == box,
          "the fourth IP box has the focus");
    if (box == nullptr || set == nullptr) {
        return;
    }
    for (wchar_t c : std::wstring(L"200")) {
        typeChar(box, c);
    }
    Sleep(200);
    check(focusOf(dialog) == set && isDefault(set), "Set has the focus and is the default");
    key(dialog, VK_RETURN);
    const std::wstring title = wide(text::tr(text::Id::ConfirmTitle));
    const HWND question = waitFor(L"#32770", title.c_str(), 20);
    check(question != nullptr, "Enter on Set: the confirmation");
    if (question == nullptr) {
        return;
    }
    check(GetWindow(question, GW_OWNER) == dialog, "confirmation owned by the dialog");
    const std::string expected = text::format(text::Id::ConfirmText, {"192.0.2.200", "...", "..."});
    bool found = false;
    for (HWND c : children(question)) {
        found = found || textOf(c) == expected;
    }
    check(found, "confirmation text with the three addresses");
    const HWND no = GetDlgItem(question, IDNO);
    check(GetDlgItem(question, IDYES) != nullptr && no != nullptr &&
              GetDlgItem(question, IDCANCEL) == nullptr,
          "Yes and No, no Cancel");
    check(focusOf(question) == no, "No has the focus");
    if (!options.shot.empty()) {
        screenshot(question, options.shot);
    }
    key(question, VK_RETURN);
    check(waitGone(question, 10) && IsWindow(dialog), "Enter: No; back in the dialog");
    key(dialog, VK_ESCAPE);
    check(waitGone(dialog, 10), "Esc: Cancel closes the dialog");
    key(main, VK_ESCAPE);
    check(waitGone(main, 10), "Esc: the main window closes");
}

// Enter in an octet box acts on the default button, Cancel.
void checkConfigEnter()
{
    const HWND main = mainWindow();
    const std::wstring title = wide(text::tr(text::Id::ConfigTitle));
    const HWND dialog = waitFor(L"#32770", title.c_str(), 20);
    check(dialog != nullptr, "settings dialog shown");
    if (main == nullptr || dialog == nullptr) {
        return;
    }
    const HWND box = childAt(dialog, "Edit", {344, 48, 33, 18});
    check(box != nullptr && focusOf(dialog) == box, "the fourth IP box has the focus");
    key(dialog, VK_RETURN);
    check(waitGone(dialog, 10), "Enter in a box: Cancel closes the dialog");
    // Enter is never pressed on Start: it would bind port 67 outside a test network (see
    // operate). Tab goes round to Exit first.
    const HWND exit = childAt(main, "Button", {216, 112, 89, 25});
    for (int i = 0; i < 4 && exit != nullptr && focusOf(main) != exit; ++i) {
        key(main, VK_TAB);
    }
    check(exit != nullptr && focusOf(main) == exit, "Tab reaches Exit");
    if (exit != nullptr && focusOf(main) == exit) {
        key(main, VK_RETURN);
        check(waitGone(main, 10), "Enter on Exit closes the main window");
    }
}

// What torvane.exe carries: the version record, the manifest, the icons and the pictures.
void checkResources(const std::wstring& exe)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<unsigned char> data(size);
    check(size > 0 && GetFileVersionInfoW(exe.c_str(), 0, size, data.data()), "version record");
    if (size > 0) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
        check(fixed != nullptr && fixed->dwFileVersionMS == 0x00010001 &&
                  fixed->dwFileVersionLS == 0 && fixed->dwProductVersionMS == 0x00010001,
              "file and product version 1.1.0.0");
        for (const auto& [name, expected] :
             {std::pair{L"FileVersion", "1.01"}, std::pair{L"ProductVersion", "1.01"},
              std::pair{L"CompanyName", "Unknown"}}) {
            wchar_t* value = nullptr;
            const std::wstring path = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
            VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length);
            expectEqual(value != nullptr ? utf8(value) : std::string(), std::string(expected),
                        "version " + utf8(name) + " (Japanese, Unicode)");
        }
    }
    const HMODULE module = LoadLibraryExW(
        exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    check(module != nullptr, "torvane.exe opens as a resource file");
    if (module == nullptr) {
        return;
    }
    const HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const std::string text =
        manifest == nullptr
            ? std::string()
            : std::string(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                          SizeofResource(module, manifest));
    check(text.find("PerMonitorV2") != std::string::npos &&
              text.find("Microsoft.Windows.Common-Controls") != std::string::npos &&
              text.find("version=\"6.0.0.0\"") != std::string::npos,
          "manifest: per-monitor DPI awareness, Common Controls 6");
    check(text.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>") !=
              std::string::npos,
          "manifest: runs as the invoker, no elevation prompt");
    for (int size : {32, 16}) {
        const HICON icon =
            static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        ICONINFO info{};
        BITMAP bitmap{};
        const bool ok = icon != nullptr && GetIconInfo(icon, &info) &&
                        GetObjectW(info.hbmMask, sizeof bitmap, &bitmap) != 0;
        check(ok && bitmap.bmWidth == size,
              "program icon " + std::to_string(size) + " x " + std::to_string(size));
    }
    // Frames 0-8 have at most 8 colours, 9-11 at most 16: all 4-bit palette pictures, 64 x 32.
    for (int i = 0; i < 12; ++i) {
        const HRSRC frame = FindResourceW(module, MAKEINTRESOURCEW(310 + i), MAKEINTRESOURCEW(2));
        const auto* header =
            frame == nullptr
                ? nullptr
                : static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, frame)));
        check(header != nullptr && header->biWidth == 64 && header->biHeight == 32 &&
                  header->biBitCount == 4,
              "animation frame " + std::to_string(i) + ": 64 x 32, 16-colour palette");
    }
    FreeLibrary(module);
}

void checkBrowser(const Options& options)
{
    const HWND main = mainWindow();
    const HWND browser = waitFor(L"TorvaneBrowser", nullptr, 20);
    check(browser != nullptr, "browser window shown");
    if (main == nullptr || browser == nullptr) {
        return;
    }
    RECT outer{};
    GetWindowRect(browser, &outer);
    expectEqual(describe({0, 0, outer.right - outer.left, outer.bottom - outer.top}),
                std::string("0,0 800x567"), "browser outer size at opening (12000 x 8500 twips)");
    const LONG s = style(browser);
    check((s & WS_THICKFRAME) && (s & WS_MAXIMIZEBOX) && (s & WS_MINIMIZEBOX),
          "browser: sizable, minimise and maximise");
    check(GetWindow(browser, GW_OWNER) == nullptr && IsWindowEnabled(main),
          "browser modeless, without owner; the main window stays usable");
    // Without a web engine (Wine without Gecko) the page goes to the default browser and the
    // title says so; with one, the load has started.
    const std::string outside = text::format(text::Id::BrowserOpenedOutside, {options.url});
    if (options.fallback) {
        expectEqual(textOf(browser), outside, "browser title");
    } else {
        expectEqual(textOf(browser), label(text::Id::BrowserConnecting), "browser title");
    }
    const SIZE client = clientSize(browser);
    const HWND combo = expectControl(browser, {"ComboBox", {2, 2, 211, 20}, options.url});
    expectControl(browser, {"Button", {224, 0, 25, 25}, ""});
    expectControl(browser, {"Button", {248, 0, 25, 25}, ""});
    expectControl(browser, {"Button", {272, 0, 25, 25}, ""});
    const HWND close =
        expectControl(browser, {"Button", {304, 0, 81, 25}, label(text::Id::BrowserClose)});
    const HWND web =
        expectControl(browser, {"TorvaneWebView", {0, 24, client.cx - 1, client.cy - 25}, ""});
    if (combo != nullptr) {
        expectEqual<long long>(SendMessageW(combo, CB_GETCOUNT, 0, 0), 1,
                               "one address in the list");
        check((style(combo) & 3) == CBS_DROPDOWNLIST, "the address list takes no typing");
    }
    check(web != nullptr && focusOf(browser) != nullptr &&
              (focusOf(browser) == web || IsChild(web, focusOf(browser))),
          "the web view holds the focus");
    if (!options.shot.empty()) {
        screenshot(browser, options.shot);
    }
    // The layout rule: never smaller than 6000 x 5000 twips; the web view follows the size.
    SetWindowPos(browser, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    Sleep(300);
    GetWindowRect(browser, &outer);
    expectEqual(describe({0, 0, outer.right - outer.left, outer.bottom - outer.top}),
                std::string("0,0 400x333"), "browser outer size at its smallest");
    const SIZE small = clientSize(browser);
    if (web != nullptr) {
        expectEqual(describe(placeIn(browser, web)), describe({0, 24, small.cx - 1, small.cy - 25}),
                    "web view fills the window");
    }
    if (close != nullptr) {
        SendMessageW(close, BM_CLICK, 0, 0);
        check(waitGone(browser, 10), "Close closes the browser window");
        check(IsWindow(main), "the main window stays open");
    }
    key(main, VK_ESCAPE);
    check(waitGone(main, 10), "Esc: the main window closes");
}

// Waits until the window's text is text; false after seconds.
bool waitText(HWND w, const std::string& text, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (textOf(w) == text) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

void click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
    Sleep(300);
}

// The operator's whole round with a card in a test network: Start, the animation, the
// card's dialog with the proposal, the fourth octet, mask and gateway typed, Set, Yes; then
// the report of the neighbour step, the status, Stop and Exit. Prints "address=…" for the
// script, which judges the card's side.
void operate(const Options& options)
{
    const HWND main = mainWindow();
    if (main == nullptr) {
        return;
    }
    const HWND start = childAt(main, "Button", {24, 112, 89, 25});
    const HWND stop = childAt(main, "Button", {120, 112, 89, 25});
    const HWND exit = childAt(main, "Button", {216, 112, 89, 25});
    const HWND status = childAt(main, "Edit", {24, 64, 281, 33});
    check(start && stop && exit && status, "main window's buttons and status box");
    if (!(start && stop && exit && status)) {
        return;
    }
    click(start);
    check(waitText(status, label(text::Id::StatusSearching), 10),
          "Start: the status says searching");
    check(!IsWindowEnabled(start) && IsWindowEnabled(stop) && !IsWindowEnabled(exit),
          "Start: Stop enabled, Start and Exit disabled");
    check(isDefault(stop), "Start: Stop is the default button");
    // Not judged: after a click posted from another process Wine leaves the focus where it
    // was (windows_ui checks the focus along the keys).
    std::printf("focus after Start: %s\n", textOf(focusOf(main)).c_str());
    Sleep(700);
    if (!options.shot.empty()) {
        screenshot(main, options.shot);
    }
    std::printf("event=searching\n");
    std::fflush(stdout);

    const std::wstring title = wide(text::tr(text::Id::ConfigTitle));
    const HWND dialog = waitFor(L"#32770", title.c_str(), 60);
    check(dialog != nullptr, "the card's request opens the settings dialog");
    if (dialog == nullptr) {
        return;
    }
    check(textOf(status) == label(text::Id::StatusCardFound), "status: a card was found");
    std::vector<HWND> boxes;
    for (int top : {48, 80, 112}) {
        for (int left : {200, 248, 296, 344}) {
            boxes.push_back(childAt(dialog, "Edit", {left, top, 33, 18}));
        }
    }
    const HWND set = childAt(dialog, "Button", {296, 192, 81, 25});
    if (set == nullptr || std::find(boxes.begin(), boxes.end(), nullptr) != boxes.end()) {
        check(false, "the dialog's twelve boxes and Set");
        return;
    }
    const std::string proposal = textOf(boxes[0]) + "." + textOf(boxes[1]) + "." + textOf(boxes[2]);
    expectEqual(proposal, std::string("10.77.0"), "proposal: the arrival interface's network");
    expectEqual(textOf(childAt(dialog, "Static", {200, 13, 177, 17})), options.mac, "card's MAC");
    if (!options.cardShot.empty()) {
        screenshot(dialog, options.cardShot);
    }
    const char* rest[] = {nullptr, nullptr, nullptr, nullptr, "255", "255",
                          "255",   "0",     "10",    "77",    "0",   "254"};
    for (std::size_t i = 3; i < boxes.size(); ++i) {
        for (char c : std::string(i == 3 ? options.octet.c_str() : rest[i])) {
            typeChar(boxes[i], static_cast<wchar_t>(c));
        }
    }
    const std::string address = "10.77.0." + options.octet;
    click(set);
    const HWND question = waitFor(L"#32770", wide(text::tr(text::Id::ConfirmTitle)).c_str(), 20);
    check(question != nullptr, "Set: the confirmation");
    if (question == nullptr) {
        return;
    }
    const std::string expected =
        text::format(text::Id::ConfirmText, {address, "255.255.255.0", "10.77.0.254"});
    bool found = false;
    for (HWND c : children(question)) {
        found = found || textOf(c) == expected;
    }
    check(found, "confirmation names " + address + ", its mask and gateway");
    click(GetDlgItem(question, IDYES));
    std::printf("address=%s\n", address.c_str());
    std::fflush(stdout);

    // Wine has no CreateIpNetEntry2, so there is no entry; the page opens all the same, in
    // the default browser since Wine has no web engine, and the report says why.
    const std::string url = "http://" + address + "/";
    const HWND browser = waitFor(L"TorvaneBrowser", nullptr, 30);
    check(browser != nullptr, "the card's page opens without the neighbour entry");
    if (browser != nullptr) {
        expectEqual(textOf(browser), text::format(text::Id::BrowserOpenedOutside, {url}),
                    "browser title: the page went to the default browser");
    }
    const HWND report = waitFor(L"#32770", wide(text::tr(text::Id::ErrorTitle)).c_str(), 30);
    check(report != nullptr, "the neighbour step's report");
    if (report != nullptr) {
        std::string body;
        for (HWND c : children(report)) {
            if (classOf(c) == "Static") {
                body += textOf(c);
            }
        }
        std::printf("report: %s\n", body.c_str());
        const std::string cause =
            text::format(text::Id::WinNeighbourUnsupported, {"CreateIpNetEntry2"});
        check(body.find(text::format(text::Id::FailNeighbour, {cause})) != std::string::npos,
              "report: the ARP entry cannot be added on this Windows");
        check(body.find(text::format(text::Id::CardSent, {address})) != std::string::npos,
              "report: the card has been sent its address");
        check(body.find(text::tr(text::Id::DoNeighbourPageOpened)) != std::string::npos,
              "report: the page has opened without the entry");
        click(GetDlgItem(report, IDOK) ? GetDlgItem(report, IDOK) : GetDlgItem(report, 2));
        check(waitGone(report, 10), "OK closes the report");
    }
    check(waitText(status, label(text::Id::StatusSearching), 10), "afterwards: the search goes on");
    std::printf("status: %s\n", textOf(status).c_str());
    click(stop);
    check(waitText(status, "", 10) && IsWindowEnabled(start) && IsWindowEnabled(exit) &&
              !IsWindowEnabled(stop),
          "Stop: status cleared, Start and Exit enabled");
    click(exit);
    check(waitGone(main, 10), "Exit closes the main window");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: win_window_probe (main|config|browser) [options]\n");
        return 100;
    }
    Options options;
    text::setLanguage(text::Lang::Japanese);
    for (int i = 2; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--english") {
            text::setLanguage(text::Lang::English);
        } else if (a == L"--shot" && i + 1 < argc) {
            options.shot = utf8(argv[++i]);
        } else if (a == L"--mac" && i + 1 < argc) {
            options.mac = utf8(argv[++i]);
        } else if (a == L"--no-web-engine") {
            options.fallback = true;
        } else if (a == L"--octet" && i + 1 < argc) {
            options.octet = utf8(argv[++i]);
        } else if (a == L"--card-shot" && i + 1 < argc) {
            options.cardShot = utf8(argv[++i]);
        } else if (a == L"--url" && i + 1 < argc) {
            options.url = utf8(argv[++i]);
        }
    }
    const std::wstring what = argv[1];
    if (what == L"main") {
        checkMain(options);
    } else if (what == L"config") {
        checkConfig(options);
    } else if (what == L"resources" && argc >= 3) {
        checkResources(argv[2]);
    } else if (what == L"main-dpi" && argc >= 3) {
        checkMainAt(_wtoi(argv[2]), options);
    } else if (what == L"confirm") {
        checkConfirmation(options);
    } else if (what == L"config-enter") {
        checkConfigEnter();
    } else if (what == L"browser") {
        checkBrowser(options);
    } else if (what == L"operate") {
        operate(options);
    } else {
        return 100;
    }
    std::printf("%d failed\n", g_failures);
    return g_failures;
}
