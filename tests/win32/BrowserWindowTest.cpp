#include "F_Browser.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <vector>

// The browser window's handlers of the web view's events, raised by hand on a window that has
// no web engine (Wine has none), read back with Win32 calls.
namespace {

class BrowserWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    static void TearDownTestSuite() { OleUninitialize(); }

    void SetUp() override
    {
        ASSERT_TRUE(browser.create()) << GetLastError();
        // In tab order: the web view, Close, the address list, back, forward, refresh.
        HWND child = GetWindow(browser.hwnd(), GW_CHILD);
        for (HWND* control : {&web, &close, &combo, &back, &forward}) {
            *control = child;
            child = GetWindow(child, GW_HWNDNEXT);
        }
    }

    std::vector<std::wstring> history() const
    {
        std::vector<std::wstring> entries;
        wchar_t text[256];
        for (int i = 0; SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(text)) != CB_ERR; ++i) {
            entries.emplace_back(text);
        }
        return entries;
    }
    int selected() const { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
    std::wstring title() const
    {
        wchar_t text[256] = {};
        GetWindowTextW(browser.hwnd(), text, 256);
        return text;
    }

    win32ui::F_Browser browser;
    HWND web = nullptr, close = nullptr, combo = nullptr, back = nullptr, forward = nullptr;
};

TEST_F(BrowserWindow, CommandStateChangeSetsOnlyTheButtonItNames)
{
    EXPECT_TRUE(IsWindowEnabled(back) && IsWindowEnabled(forward));
    browser.WebBrowser1_CommandStateChange(2, false);
    EXPECT_FALSE(IsWindowEnabled(back));
    EXPECT_TRUE(IsWindowEnabled(forward));
    browser.WebBrowser1_CommandStateChange(1, false);
    EXPECT_FALSE(IsWindowEnabled(forward));
    // -1 (the whole tool bar) concerns neither button.
    browser.WebBrowser1_CommandStateChange(-1, true);
    EXPECT_FALSE(IsWindowEnabled(back) || IsWindowEnabled(forward));
    browser.WebBrowser1_CommandStateChange(1, true);
    EXPECT_TRUE(IsWindowEnabled(forward));
    EXPECT_FALSE(IsWindowEnabled(back));
}

TEST_F(BrowserWindow, AButtonThatIsDisabledGivesUpTheFocus)
{
    SetFocus(back);
    ASSERT_EQ(GetFocus(), back);
    browser.WebBrowser1_CommandStateChange(2, false);
    EXPECT_NE(GetFocus(), back);
    EXPECT_TRUE(IsChild(browser.hwnd(), GetFocus()));
}

TEST_F(BrowserWindow, TheHistoryComparesWholeAddressesExactly)
{
    // A scheme nothing handles: the shell refuses it without starting anything.
    browser.addURL("torvane-test:a/");
    browser.addURL("torvane-test:A/");
    browser.addURL("torvane-test:a");
    EXPECT_EQ(history(), (std::vector<std::wstring>{L"torvane-test:a", L"torvane-test:A/",
                                                    L"torvane-test:a/"}));
    browser.addURL("torvane-test:A/");
    EXPECT_EQ(history().size(), 3u);
    EXPECT_EQ(selected(), 1);
    browser.addURL("");
    EXPECT_EQ(history().size(), 3u);
    EXPECT_EQ(selected(), 1);
}

TEST_F(BrowserWindow, CompletionSelectsByThePageOnShowNotByTheEventsAddress)
{
    browser.addURL("torvane-test:a");
    browser.addURL("torvane-test:b");
    ASSERT_NE(title(), L"");
    // A frame's address may come with the event; without a view no page is on show, so
    // nothing is selected and the title is the (empty) page name.
    browser.WebBrowser1_DocumentComplete(L"torvane-test:a");
    EXPECT_EQ(history().size(), 2u);
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(title(), L"");
}

} // namespace
