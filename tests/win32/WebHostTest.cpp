#include "WebHost.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

// The WebBrowser control's own events through WebHost's subscription. Wine's control navigates
// without an HTML engine: it reports the back and forward state and the end of each load,
// though no document (that needs the engine, which Wine here lacks).
namespace {

class WebHostEvents : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    static void TearDownTestSuite() { OleUninitialize(); }

    void SetUp() override
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TorvaneWebHostTest";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr) << GetLastError();
    }
    void TearDown() override
    {
        host.close();
        DestroyWindow(window);
    }

    HWND window = nullptr;
    win32ui::WebHost host;
};

TEST_F(WebHostEvents, TheControlsEventsArriveWithTheirArgumentsUntilItIsClosed)
{
    std::vector<std::pair<long, bool>> states;
    int downloads = 0;
    host.handlers.CommandStateChange = [&states](long Command, bool Enable) {
        states.emplace_back(Command, Enable);
        // A failing handler must not take the control (or the program) down with it.
        throw std::runtime_error("handler failed");
    };
    host.handlers.DownloadComplete = [&downloads] { ++downloads; };

    long error = 0;
    ASSERT_TRUE(host.create(window, error, win32ui::WebHost::Engine::NotRequired))
        << std::hex << error;
    ASSERT_TRUE(host.valid());
    ASSERT_EQ(host.navigate(L"about:blank"), S_OK);
    ASSERT_TRUE(wintest::pumpUntil([&downloads] { return downloads > 0; }))
        << "no DownloadComplete within 10 s";

    // Neither way is open from a first page: Command 2 (back) and 1 (forward), each false.
    for (const std::pair<long, bool>& state : {std::pair{2L, false}, std::pair{1L, false}}) {
        EXPECT_NE(std::find(states.begin(), states.end(), state), states.end())
            << "no CommandStateChange(" << state.first << ", false)";
    }
    EXPECT_EQ(host.locationURL(), L"about:blank");

    host.close();
    EXPECT_FALSE(host.valid());
    EXPECT_EQ(host.navigate(L"about:blank"), E_POINTER);
    EXPECT_EQ(host.locationURL(), L"");
}

} // namespace
