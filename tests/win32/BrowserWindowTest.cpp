#include "F_Browser.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <vector>

// The browser window's handlers of the web view's events, raised by hand on a window that has
// no web engine (Wine has none): the buttons' state, the address list and the title, read
// back with Win32 calls.
namespace {

std::wstring textOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

std::wstring className(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

class BrowserWindow : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
    }
    static void TearDownTestSuite() { OleUninitialize(); }

    void SetUp() override
    {
        ASSERT_TRUE(browser.create()) << GetLastError();
        // The children in tab order: the web view, Close, the address list, back, forward,
        // refresh.
        for (HWND child = GetWindow(browser.hwnd(), GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (className(child) == L"Button") {
                buttons.push_back(child);
            } else if (className(child) == L"ComboBox") {
                combo = child;
            }
        }
        ASSERT_EQ(buttons.size(), 4u);
        ASSERT_NE(combo, nullptr);
    }

    HWND back() const { return buttons[1]; }
    HWND forward() const { return buttons[2]; }
    HWND refresh() const { return buttons[3]; }

    std::vector<std::wstring> history() const
    {
        std::vector<std::wstring> entries;
        const int n = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            std::wstring text(
                static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(
                SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
            entries.push_back(text);
        }
        return entries;
    }
    int selected() const { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

    win32ui::F_Browser browser;
    std::vector<HWND> buttons;
    HWND combo = nullptr;
};

TEST_F(BrowserWindow, CommandStateChangeSetsOnlyTheButtonItNames)
{
    EXPECT_TRUE(IsWindowEnabled(back()));
    EXPECT_TRUE(IsWindowEnabled(forward()));

    browser.WebBrowser1_CommandStateChange(2, false);
    EXPECT_FALSE(IsWindowEnabled(back()));
    EXPECT_TRUE(IsWindowEnabled(forward()));

    browser.WebBrowser1_CommandStateChange(1, false);
    EXPECT_FALSE(IsWindowEnabled(forward()));
    browser.WebBrowser1_CommandStateChange(1, true);
    EXPECT_TRUE(IsWindowEnabled(forward()));
    EXPECT_FALSE(IsWindowEnabled(back()));

    // -1 (the whole tool bar) and other values concern neither button.
    for (long other : {-1L, 0L, 3L}) {
        browser.WebBrowser1_CommandStateChange(other, true);
        EXPECT_FALSE(IsWindowEnabled(back())) << other;
        browser.WebBrowser1_CommandStateChange(other, false);
        EXPECT_TRUE(IsWindowEnabled(forward())) << other;
    }
    EXPECT_TRUE(IsWindowEnabled(refresh()));

    browser.WebBrowser1_CommandStateChange(2, true);
    EXPECT_TRUE(IsWindowEnabled(back()));
}

TEST_F(BrowserWindow, AButtonThatIsDisabledGivesUpTheFocus)
{
    SetFocus(back());
    ASSERT_EQ(GetFocus(), back());
    browser.WebBrowser1_CommandStateChange(2, false);
    EXPECT_NE(GetFocus(), back());
    EXPECT_TRUE(IsChild(browser.hwnd(), GetFocus()));
}

TEST_F(BrowserWindow, TheHistoryComparesWholeAddressesExactly)
{
    // Addresses of a scheme nothing handles: the shell refuses them without starting anything.
    browser.addURL("torvane-test:a/");
    browser.addURL("torvane-test:A/");
    browser.addURL("torvane-test:a");
    EXPECT_EQ(history(), (std::vector<std::wstring>{L"torvane-test:a", L"torvane-test:A/",
                                                    L"torvane-test:a/"}));
    EXPECT_EQ(selected(), 0);

    browser.addURL("torvane-test:A/");
    EXPECT_EQ(history().size(), 3u);
    EXPECT_EQ(selected(), 1);

    // An empty address changes neither the list nor its selection.
    browser.addURL("");
    EXPECT_EQ(history().size(), 3u);
    EXPECT_EQ(selected(), 1);
}

TEST_F(BrowserWindow, CompletionAddsNothingAndShowsThePagesName)
{
    browser.addURL("torvane-test:a");
    browser.addURL("torvane-test:b");
    ASSERT_NE(textOf(browser.hwnd()), L"");

    // The event's own address is not the page on show (a frame's may come): it selects nothing.
    browser.WebBrowser1_DocumentComplete(L"torvane-test:a");
    EXPECT_EQ(history(), (std::vector<std::wstring>{L"torvane-test:b", L"torvane-test:a"}));
    EXPECT_EQ(selected(), 0);
    // Without a view there is no page, and so no name.
    EXPECT_EQ(textOf(browser.hwnd()), L"");

    SetWindowTextW(browser.hwnd(), L"x");
    browser.WebBrowser1_DownloadComplete();
    EXPECT_EQ(history().size(), 2u);
    EXPECT_EQ(textOf(browser.hwnd()), L"");
}

TEST_F(BrowserWindow, EventsAfterTheWindowClosedAreIgnored)
{
    SendMessageW(browser.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(buttons[0]), BN_CLICKED),
                 reinterpret_cast<LPARAM>(buttons[0]));
    ASSERT_FALSE(browser.open());
    browser.WebBrowser1_CommandStateChange(2, false);
    browser.WebBrowser1_DocumentComplete(L"torvane-test:a");
    browser.WebBrowser1_DownloadComplete();
}

} // namespace
