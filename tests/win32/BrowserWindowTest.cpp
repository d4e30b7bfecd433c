#include "F_Browser_win32.h"
#include "Win32Ui.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

// The browser window's handlers of the web view's events, raised by hand on a window that has
// no web engine (Wine has none), read back with Win32 calls. BrowserWindowWithView has Wine's
// WebBrowser control, which navigates to any address without an engine: it raises
// BeforeNavigate2 inside Navigate, ends the first navigation there too and later ones from the
// window's messages, and is never busy.
namespace {

template <win32ui::WebHost::Engine engine> class BrowserWindowOf : public testing::Test {
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
        browser.WebBrowser1().handlers.BeforeNavigate2 = [this](const std::wstring& URL) {
            navigations.push_back(URL);
            // An endless loop of navigations is cut here, so that the test fails and goes on.
            if (navigations.size() > 20) {
                browser.WebBrowser1().handlers = {};
            }
        };
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

    /// Whether the busy indicator's timer ticks within a few ticks' time. Its tick is taken from
    /// the queue, not run, and the view's own messages wait meanwhile.
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

    win32ui::F_Browser browser{engine};
    HWND web = nullptr, close = nullptr, combo = nullptr, back = nullptr, forward = nullptr;
    std::vector<std::wstring> navigations;
    UINT_PTR timerId = 0;
};
using BrowserWindow = BrowserWindowOf<win32ui::WebHost::Engine::Required>;
using BrowserWindowWithView = BrowserWindowOf<win32ui::WebHost::Engine::NotRequired>;

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
    EXPECT_FALSE(timerTicks()) << "a busy indicator without a web view";
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

TEST_F(BrowserWindowWithView, TheBusyIndicatorRunsUntilATickFindsTheViewIdleOrADownloadEnds)
{
    for (const bool byTick : {true, false}) {
        browser.addURL("about:a");
        browser.addURL("about:b");
        browser.WebBrowser1_DocumentComplete(L"about:b");
        ASSERT_TRUE(timerTicks());
        SetWindowTextW(browser.hwnd(), L"before");
        if (byTick) {
            SendMessageW(browser.hwnd(), WM_TIMER, timerId, 0);
        } else {
            browser.WebBrowser1_DownloadComplete();
        }
        EXPECT_EQ(title(), browser.WebBrowser1().locationName());
        EXPECT_FALSE(timerTicks());
    }
}

TEST_F(BrowserWindowWithView, OnlyTheOperatorsChoiceOfAnAddressNavigates)
{
    const auto pump = [] {
        wintest::pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    };
    browser.addURL("about:a");
    browser.addURL("about:b");
    browser.addURL("about:a");
    pump();
    // Completion selects the page on show again.
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    browser.WebBrowser1_DocumentComplete(L"");
    pump();
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(navigations, (std::vector<std::wstring>{L"about:a", L"about:b", L"about:a"}));
    // The arrow keys in the closed list pick the previous and the next entry.
    SendMessageW(combo, WM_KEYDOWN, VK_UP, 0);
    EXPECT_TRUE(timerTicks());
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
    pump();
    EXPECT_EQ(navigations, (std::vector<std::wstring>{L"about:a", L"about:b", L"about:a",
                                                      L"about:b", L"about:a"}));
}

// Stands in for the web engine's active object (Wine has no engine): records the key messages
// that reach its TranslateAccelerator and takes them while take is set, as a page does with a
// key it uses.
class StandInPage final : public IOleInPlaceActiveObject {
public:
    std::vector<std::pair<UINT, WPARAM>> seen;
    bool take = true;
    long refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceActiveObject) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long left = --refs;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override
    {
        seen.emplace_back(msg->message, msg->wParam);
        return take ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
};

// A real key stroke through the input queue, then the program's own message loop for a while.
void press(UINT vk)
{
    INPUT strokes[2]{};
    for (INPUT& in : strokes) {
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = static_cast<WORD>(vk);
        in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    }
    strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, strokes, sizeof(INPUT));
    for (int i = 0; i < 6; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        win32ui::pumpMessages();
    }
}

using Keys = std::vector<std::pair<UINT, WPARAM>>;

TEST_F(BrowserWindowWithView, ThePagesKeysReachItsActiveObjectBeforeTheDialogManager)
{
    SetForegroundWindow(browser.hwnd());
    SetFocus(web);
    press(VK_SHIFT);
    const HWND inPage = GetFocus();
    ASSERT_TRUE(inPage == web || IsChild(web, inPage)) << "the focus is not in the web view";
    auto* page = new StandInPage;
    browser.WebBrowser1().frame()->SetActiveObject(page, L"page");

    // The page takes Tab and Enter (a login form moving between its fields, then submitting):
    // the focus stays in the page and no button is clicked.
    press(VK_TAB);
    press(VK_RETURN);
    EXPECT_EQ(page->seen, (Keys{{WM_KEYDOWN, VK_TAB}, {WM_KEYUP, VK_TAB},
                                {WM_KEYDOWN, VK_RETURN}, {WM_KEYUP, VK_RETURN}}));
    // Enter on Close would have closed the window, and the view with it.
    ASSERT_TRUE(browser.open()) << "the dialog manager took the page's keys";
    EXPECT_EQ(GetFocus(), inPage);

    // At its last element the page lets Tab go: the dialog manager moves on to Close.
    page->take = false;
    page->seen.clear();
    press(VK_TAB);
    EXPECT_EQ(page->seen.front(), (std::pair<UINT, WPARAM>{WM_KEYDOWN, VK_TAB}));
    EXPECT_EQ(GetFocus(), close);

    // Keys for the window's own controls never reach the page.
    page->seen.clear();
    press(VK_TAB);
    EXPECT_EQ(GetFocus(), combo);
    EXPECT_EQ(page->seen, Keys{});

    // An object that is no longer active is let go and asked nothing.
    browser.WebBrowser1().frame()->SetActiveObject(nullptr, nullptr);
    EXPECT_EQ(page->refs, 1);
    SetFocus(inPage);
    press(VK_TAB);
    EXPECT_EQ(page->seen, Keys{});
    page->Release();
}

} // namespace
