#include "F_Browser.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <vector>

// The browser window's handlers of the web view's events, raised by hand on a window that has
// no web engine (Wine has none), read back with Win32 calls.
namespace {

class BrowserWindowBase : public testing::Test {
protected:
    explicit BrowserWindowBase(win32ui::WebHost::Engine engine) : browser(engine) {}
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

    /// Whether the busy indicator's timer ticks for the window within a few ticks' time; its
    /// tick is taken from the queue, not run. Only the timer's messages are looked at, so the
    /// web view's own work waits meanwhile.
    bool timerTicks()
    {
        MSG m;
        for (int i = 0; i < 3; ++i) {
            Sleep(100);
            if (PeekMessageW(&m, browser.hwnd(), WM_TIMER, WM_TIMER, PM_REMOVE)) {
                timerId = m.wParam;
                return true;
            }
        }
        return false;
    }

    win32ui::F_Browser browser;
    HWND web = nullptr, close = nullptr, combo = nullptr, back = nullptr, forward = nullptr;
    UINT_PTR timerId = 0;
};

/// Without a web engine: pages go to the default browser.
class BrowserWindow : public BrowserWindowBase {
protected:
    BrowserWindow() : BrowserWindowBase(win32ui::WebHost::Engine::Required) {}
};

/// With Wine's WebBrowser control, which navigates to any address without an engine: it
/// raises BeforeNavigate2 and DownloadComplete, and its location becomes the address, but it
/// is never busy and its page names are empty.
class BrowserWindowWithView : public BrowserWindowBase {
protected:
    BrowserWindowWithView() : BrowserWindowBase(win32ui::WebHost::Engine::NotRequired) {}
    void SetUp() override
    {
        BrowserWindowBase::SetUp();
        ASSERT_TRUE(browser.WebBrowser1().valid());
        browser.WebBrowser1().handlers.BeforeNavigate2 = [this](const std::wstring& URL) {
            navigations.push_back(URL);
        };
    }
    /// Runs the window's messages until the view stands at url.
    void settle(const std::wstring& url)
    {
        ASSERT_TRUE(wintest::pumpUntil([&] { return browser.WebBrowser1().locationURL() == url; }))
            << "the view never reached the address";
        wintest::pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    }

    /// Wine's view ends its first navigation inside Navigate, DownloadComplete included; later
    /// ones run from the window's messages, as on Windows.
    void firstPage()
    {
        browser.addURL("about:a");
        settle(L"about:a");
    }

    std::vector<std::wstring> navigations;
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

TEST_F(BrowserWindow, WithoutAWebViewTheBusyIndicatorNeverRuns)
{
    browser.addURL("torvane-test:a");
    const std::wstring shellsReport = title();
    EXPECT_FALSE(timerTicks());
    EXPECT_EQ(title(), shellsReport);
}

TEST_F(BrowserWindowWithView, TheBusyIndicatorRunsFromAddURLUntilATickFindsTheViewIdle)
{
    firstPage();
    browser.addURL("about:b");
    SetWindowTextW(browser.hwnd(), L"before");
    ASSERT_TRUE(timerTicks());
    // Wine's view is never busy: the first tick stops the timer and shows the page's name.
    SendMessageW(browser.hwnd(), WM_TIMER, timerId, 0);
    EXPECT_EQ(title(), browser.WebBrowser1().locationName());
    EXPECT_FALSE(timerTicks());
}

TEST_F(BrowserWindowWithView, DownloadCompleteStopsTheBusyIndicatorAndDocumentCompleteDoesNot)
{
    firstPage();
    browser.addURL("about:b");
    SetWindowTextW(browser.hwnd(), L"before");
    browser.WebBrowser1_DocumentComplete(L"about:b");
    EXPECT_EQ(title(), browser.WebBrowser1().locationName());
    EXPECT_TRUE(timerTicks());
    SetWindowTextW(browser.hwnd(), L"before");
    browser.WebBrowser1_DownloadComplete();
    EXPECT_EQ(title(), browser.WebBrowser1().locationName());
    EXPECT_FALSE(timerTicks());
}

TEST_F(BrowserWindowWithView, TheWindowsOwnSelectionsNavigateNowhere)
{
    browser.addURL("about:a");
    browser.addURL("about:b");
    browser.addURL("about:a"); // selects the existing entry
    settle(L"about:a");
    EXPECT_EQ(navigations, (std::vector<std::wstring>{L"about:a", L"about:b", L"about:a"}));
    ASSERT_EQ(history(), (std::vector<std::wstring>{L"about:b", L"about:a"}));
    EXPECT_EQ(selected(), 1);
    // Completion moves the selection back to the page on show, and stops there.
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    browser.WebBrowser1_DocumentComplete(L"about:a");
    settle(L"about:a");
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(navigations.size(), 3u);
}

TEST_F(BrowserWindowWithView, AnOperatorsChoiceNavigatesEveryTime)
{
    browser.addURL("about:a");
    browser.addURL("about:b");
    settle(L"about:b");
    ASSERT_FALSE(timerTicks());
    navigations.clear();
    // The arrow keys in the closed list pick the next and the previous entry.
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(selected(), 1);
    EXPECT_TRUE(timerTicks());
    settle(L"about:a");
    SendMessageW(combo, WM_KEYDOWN, VK_UP, 0);
    settle(L"about:b");
    EXPECT_EQ(navigations, (std::vector<std::wstring>{L"about:a", L"about:b"}));
    EXPECT_EQ(history(), (std::vector<std::wstring>{L"about:b", L"about:a"}));
}

} // namespace
