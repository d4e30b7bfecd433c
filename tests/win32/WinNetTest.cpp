#include "WinNet.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <cstring>

// Winsock and the IP Helper on this machine's own loopback only: nothing here sends beyond
// 127.0.0.1 (the card's side runs in network namespaces, see netns_test.sh).
namespace {

constexpr bootp::Ipv4 kLoopback{127, 0, 0, 1};
constexpr unsigned kSocketMessage = WM_APP + 1;

class WinNet : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_winsock.error(), 0); }

private:
    winnet::Winsock m_winsock;
};

TEST_F(WinNet, ThePortIsTheServersAloneEvenForASocketWithReuseAddr)
{
    auto server = winnet::UdpServerSocket::open(0, kLoopback);
    ASSERT_TRUE(server) << winnet::describe(server.failure());
    const std::uint16_t port = server->localPort();
    ASSERT_NE(port, 0);

    auto second = winnet::UdpServerSocket::open(port, kLoopback);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.failure().code, static_cast<unsigned long>(WSAEADDRINUSE));
    EXPECT_STREQ(second.failure().call, "bind");

    // On Windows SO_REUSEADDR would let another server share a port bound without
    // SO_EXCLUSIVEADDRUSE, and take its requests.
    SOCKET thief = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(thief, INVALID_SOCKET);
    const BOOL on = TRUE;
    ::setsockopt(thief, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    EXPECT_NE(::bind(thief, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::closesocket(thief);
}

TEST_F(WinNet, ADatagramReachesTheWindowAndComesWithItsArrivalInterface)
{
    auto server = winnet::UdpServerSocket::open(0, kLoopback);
    ASSERT_TRUE(server) << winnet::describe(server.failure());

    // A message-only window, as a front-end without a visible socket window would use.
    struct Seen {
        int count = 0;
        WPARAM socket = 0;
        LPARAM event = 0;
    };
    static Seen seen;
    seen = {};
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == kSocketMessage) {
            ++seen.count;
            seen.socket = wp;
            seen.event = lp;
            return 0;
        }
        return ::DefWindowProcW(w, m, wp, lp);
    };
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TorvaneWinNetTest";
    ASSERT_NE(::RegisterClassW(&windowClass), 0) << ::GetLastError();
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr) << ::GetLastError();

    auto notified = server->notify(window, kSocketMessage);
    ASSERT_TRUE(notified) << winnet::describe(notified.failure());
    // Non-blocking from now on: nothing waits yet.
    auto none = server->receive();
    ASSERT_TRUE(none) << winnet::describe(none.failure());
    EXPECT_FALSE(none.value().has_value());

    const std::vector<std::uint8_t> bytes{0x01, 0x01, 0x06, 0x00, 0xAB};
    wintest::sendToLoopback(server->localPort(), bytes);
    ASSERT_TRUE(wintest::pumpUntil([] { return seen.count > 0; }))
        << "no socket message within 10 s";
    EXPECT_EQ(seen.socket, server->handle());
    EXPECT_EQ(WSAGETSELECTEVENT(seen.event), FD_READ);
    EXPECT_EQ(WSAGETSELECTERROR(seen.event), 0);

    auto got = server->receive();
    ASSERT_TRUE(got) << winnet::describe(got.failure());
    ASSERT_TRUE(got.value().has_value());
    const winnet::Datagram& d = *got.value();
    EXPECT_EQ(d.bytes, bytes);
    EXPECT_EQ(d.source, kLoopback);
    EXPECT_FALSE(d.truncated);
    // The arrival interface is the one that holds 127.0.0.1.
    auto addresses = winnet::interfaceAddresses(d.ifindex);
    ASSERT_TRUE(addresses) << winnet::describe(addresses.failure());
    bool loopback = false;
    for (const auto& a : addresses.value()) {
        loopback = loopback || a.ip == kLoopback;
    }
    EXPECT_TRUE(loopback) << "interface " << d.ifindex;

    ::DestroyWindow(window);
    ::UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

TEST_F(WinNet, ALongDatagramIsMarkedTruncated)
{
    auto server = winnet::UdpServerSocket::open(0, kLoopback);
    ASSERT_TRUE(server) << winnet::describe(server.failure());
    wintest::sendToLoopback(server->localPort(), std::vector<std::uint8_t>(600, 0x5A));
    auto readable = server->waitReadable(5000);
    ASSERT_TRUE(readable && readable.value());
    auto got = server->receive(300);
    ASSERT_TRUE(got) << winnet::describe(got.failure());
    ASSERT_TRUE(got.value().has_value());
    EXPECT_TRUE(got.value()->truncated);
    EXPECT_EQ(got.value()->bytes.size(), 300u);
}

TEST_F(WinNet, NoBroadcastWithoutAnInterface)
{
    auto server = winnet::UdpServerSocket::open(0, kLoopback);
    ASSERT_TRUE(server);
    const std::vector<std::uint8_t> bytes(300);
    auto sent = server->broadcast(bytes, 0);
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.failure().code, static_cast<unsigned long>(WSAEINVAL));
}

TEST_F(WinNet, TheHolderOfAPortIsThisProcess)
{
    auto server = winnet::UdpServerSocket::open(0, kLoopback);
    ASSERT_TRUE(server);
    auto holder = winnet::udpPortHolder(server->localPort());
    ASSERT_TRUE(holder) << winnet::describe(holder.failure());
    EXPECT_TRUE(holder->found);
    EXPECT_EQ(holder->pid, ::GetCurrentProcessId());
    EXPECT_EQ(holder->program, "windows_test.exe");
}

TEST_F(WinNet, AnInterfaceThatIsNotThereIsAnError)
{
    auto addresses = winnet::interfaceAddresses(0x7FFFFFF0);
    ASSERT_FALSE(addresses);
    EXPECT_EQ(addresses.failure().code, static_cast<unsigned long>(ERROR_NOT_FOUND));
    EXPECT_THROW(addresses.value(), std::logic_error);
}

TEST_F(WinNet, HostFactsHoldTheLoopbackAddress)
{
    auto facts = winnet::hostFacts();
    ASSERT_TRUE(facts) << winnet::describe(facts.failure());
    bool loopback = false;
    for (const auto& a : facts->addresses) {
        loopback = loopback || (a.ip == kLoopback && a.prefix == 8 && a.ifindex > 0);
    }
    EXPECT_TRUE(loopback);
}

TEST(WinNetFailure, IsDescribedWithTheCallAndTheSystemsText)
{
    const std::string text = winnet::describe({"bind", WSAEADDRINUSE});
    EXPECT_EQ(text.rfind("bind: ", 0), 0u) << text;
    EXPECT_NE(text.find("(10048)"), std::string::npos) << text;
    EXPECT_GT(text.size(), std::string("bind:  (10048)").size()) << text;
}

} // namespace
