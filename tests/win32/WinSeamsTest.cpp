#include "WinSeams.h"
#include "SearchFailure.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <string>

// torvane.exe's socket seam on this machine's loopback only, inside the test's own network
// namespace: nothing here is sent beyond 127.0.0.1.
namespace {

/// A port that was free a moment ago.
std::uint16_t freePort()
{
    auto probe = winnet::UdpServerSocket::open(0);
    return probe ? probe->localPort() : 0;
}

class WinSeams : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_winsock.error(), 0); }

private:
    winnet::Winsock m_winsock;
};

TEST_F(WinSeams, ABusyPortIsRefusedWithTheNameAndPidOfItsHolder)
{
    auto holder = winnet::UdpServerSocket::open(0);
    ASSERT_TRUE(holder) << winnet::describe(holder.failure());
    winnet::WinDatagramSocket socket;
    try {
        socket.bind(holder->localPort());
        FAIL() << "bound port " << holder->localPort() << ", which another socket holds";
    } catch (const SearchFailure& failure) {
        EXPECT_EQ(failure.number(), WSAEADDRINUSE);
        const std::string who =
            "windows_test.exe, pid " + std::to_string(::GetCurrentProcessId()) + ")";
        EXPECT_NE(failure.text().english.find(who), std::string::npos) << failure.text().english;
        EXPECT_NE(failure.text().japanese.find(who), std::string::npos) << failure.text().japanese;
    }
    EXPECT_FALSE(socket.isBound());
}

TEST_F(WinSeams, ClosingFreesThePortAndBindingTakesItAgain)
{
    const std::uint16_t port = freePort();
    ASSERT_NE(port, 0);
    winnet::WinDatagramSocket socket;
    int arrivals = 0;
    socket.DataArrival = [&arrivals](std::int32_t) { ++arrivals; };

    socket.bind(port);
    ASSERT_TRUE(socket.isBound());
    EXPECT_FALSE(winnet::UdpServerSocket::open(port)) << "the port is the socket's alone";

    socket.close();
    EXPECT_FALSE(socket.isBound());
    EXPECT_TRUE(winnet::UdpServerSocket::open(port)) << "close left the port held";

    socket.bind(port);
    ASSERT_TRUE(socket.isBound());
    wintest::sendToLoopback(port, {0x01, 0x01, 0x06, 0x00});
    EXPECT_TRUE(wintest::pumpUntil([&arrivals] { return arrivals > 0; }))
        << "the socket bound again hears nothing";
    EXPECT_EQ(socket.getData(-1).size(), 4u);
}

TEST_F(WinSeams, AnInterfaceThatDoesNotExistHoldsNoSubnet)
{
    const std::uint16_t port = freePort();
    ASSERT_NE(port, 0);
    winnet::WinDatagramSocket socket;
    // Before any datagram the arrival interface is index 0, which Windows never gives out.
    EXPECT_FALSE(socket.arrivalInterfaceExists());
    EXPECT_FALSE(socket.arrivalSubnetHolds("127.0.0.1"));

    // The same questions about loopback, which exists: the refusals above are not a failure
    // of every query.
    int arrivals = 0;
    socket.DataArrival = [&arrivals](std::int32_t) { ++arrivals; };
    socket.bind(port);
    wintest::sendToLoopback(port, {0x01});
    ASSERT_TRUE(wintest::pumpUntil([&arrivals] { return arrivals > 0; }));
    EXPECT_TRUE(socket.arrivalInterfaceExists());
    EXPECT_TRUE(socket.arrivalSubnetHolds("127.0.0.1"));
    EXPECT_FALSE(socket.arrivalSubnetHolds("10.77.0.20"));
}

} // namespace
