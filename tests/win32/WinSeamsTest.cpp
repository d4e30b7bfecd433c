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
    LinkSocket socket(winnet::cardSession());
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

TEST_F(WinSeams, ThePortIsHeldFromBindToTheEndOfTheSearch)
{
    const std::uint16_t port = freePort();
    ASSERT_NE(port, 0);
    LinkSocket socket(winnet::cardSession());

    socket.bind(port);
    ASSERT_TRUE(socket.isBound());
    EXPECT_FALSE(winnet::UdpServerSocket::open(port)) << "the port is the socket's alone";

    // While the dialog is open the search pauses: no other server may take the port and
    // answer the card in between, and the reply still leaves from it.
    socket.close();
    EXPECT_FALSE(socket.isBound());
    EXPECT_FALSE(winnet::UdpServerSocket::open(port)) << "a pause let the port go";

    socket.bind(port);
    EXPECT_TRUE(socket.isBound());
    socket.endSearch();
    EXPECT_FALSE(socket.isBound());
    EXPECT_TRUE(winnet::UdpServerSocket::open(port)) << "the end of the search kept the port";

    socket.bind(port);
    EXPECT_TRUE(socket.isBound()) << "a new search takes the port again";
}

TEST_F(WinSeams, AnInterfaceThatDoesNotExistHoldsNoSubnet)
{
    LinkSocket socket(winnet::cardSession());
    // Before any request the arrival interface is index 0, which Windows never gives out.
    EXPECT_FALSE(socket.arrivalInterfaceExists());
    EXPECT_FALSE(socket.arrivalSubnetHolds("127.0.0.1"));
}

} // namespace
