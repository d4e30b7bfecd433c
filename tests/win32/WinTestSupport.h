#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <vector>

// What the Windows tests share: a datagram to this machine's loopback, and the thread's
// messages run until what a test waits for has come (a socket's notification, a control's
// event).
namespace wintest {

/// Sends bytes from a socket of its own to 127.0.0.1:port.
inline void sendToLoopback(std::uint16_t port, const std::vector<std::uint8_t>& bytes)
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::sendto(s, reinterpret_cast<const char*>(bytes.data()),
                       static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              static_cast<int>(bytes.size()));
    ::closesocket(s);
}

/// Dispatches the thread's messages until done() holds or the time (ten seconds unless given)
/// has passed; done().
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds time = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG m;
        while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&m);
        }
    }
    return done();
}

} // namespace wintest
