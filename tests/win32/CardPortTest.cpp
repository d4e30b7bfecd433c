#include "CardPort.h"

#include "CardRequest.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

// The card port's own rules on this machine's loopback (the tests run in a network namespace
// with loopback only): what it refuses before anything reaches a card. Replies and entries
// that pass are seen by real cards in the namespace tests.
namespace {

using helper::Refusal;

class CardPortTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_winsock.error(), 0); }

    /// Sends bytes to 127.0.0.1:port from 127.0.0.1:fromPort.
    static void sendTo(std::uint16_t port, std::uint16_t fromPort,
                       const std::vector<std::uint8_t>& bytes)
    {
        SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(s, INVALID_SOCKET);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = ::htons(fromPort);
        from.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        sockaddr_in to = from;
        to.sin_port = ::htons(port);
        EXPECT_EQ(::sendto(s, reinterpret_cast<const char*>(bytes.data()),
                           static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to),
                  static_cast<int>(bytes.size()));
        ::closesocket(s);
    }

private:
    winnet::Winsock m_winsock;
};

TEST_F(CardPortTest, PassesOnNothingFromLoopbackAndRefusesWhatItNeverPassedOn)
{
    auto port = winnet::CardPort::open(0);
    ASSERT_TRUE(port) << winnet::describe(port.failure());
    winnet::CardPort& card = **port;
    const std::uint16_t number = card.socket()->localPort();
    ASSERT_TRUE(card.listen().ok());

    // From the client port, a card's request in every byte: only where it comes from stops it
    // (over loopback, from an address of this PC).
    sendTo(number, 68, testing_support::cardRequest());
    ASSERT_TRUE(*card.socket()->waitReadable(2000));
    EXPECT_FALSE(card.readRequest());
    EXPECT_FALSE(*card.socket()->waitReadable(0)) << "what was passed over stays unread";

    const helper::Bytes reply(300, 0);
    EXPECT_EQ(card.reply(1, reply).refusal, Refusal::UnknownRequest);
    EXPECT_TRUE(card.neighbour(1, {10, 77, 0, 50}, {0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}).refused());
}

TEST_F(CardPortTest, HoldsItsPortAloneUntilStopped)
{
    auto first = winnet::CardPort::open(0);
    ASSERT_TRUE(first) << winnet::describe(first.failure());
    const std::uint16_t number = (*first)->socket()->localPort();

    auto second = winnet::CardPort::open(number);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.failure().code, static_cast<unsigned long>(WSAEADDRINUSE));

    (*first)->stop();
    EXPECT_EQ((*first)->socket(), nullptr);
    EXPECT_EQ((*first)->reply(1, helper::Bytes(300, 0)).refusal, Refusal::UnknownRequest);
    EXPECT_TRUE(winnet::CardPort::open(number)) << "a stopped port is let go";
}

TEST(CardPortErrors, AreWordedAsTheHelpersAre)
{
    EXPECT_EQ(winnet::errnoOf(ERROR_ACCESS_DENIED), EPERM) << "only an administrator escapes it";
    EXPECT_EQ(winnet::errnoOf(WSAEACCES), EACCES);
    EXPECT_EQ(winnet::errnoOf(WSAENOBUFS), ENOBUFS);
    EXPECT_EQ(winnet::errnoOf(ERROR_NOT_FOUND), ENODEV);
    EXPECT_EQ(winnet::errnoOf(12345), EIO) << "an unknown code is a failure, never success";
    const helper::Answer a = winnet::failedAnswer({"sendto", WSAENETDOWN});
    EXPECT_FALSE(a.ok());
    EXPECT_NE(a.reason.find("sendto"), std::string::npos);
}

TEST_F(CardPortTest, SaysWhatOnlyWindowsAnswers)
{
    auto port = winnet::CardPort::open(0);
    ASSERT_TRUE(port) << winnet::describe(port.failure());
    helper::Answer missing;
    missing.error = ENOSYS;
    missing.reason = "CreateIpNetEntry2";
    EXPECT_EQ((*port)->words(missing).english,
              "this Windows cannot do it (CreateIpNetEntry2 is missing)");
    helper::Answer denied;
    denied.error = EPERM;
    denied.reason = "CreateIpNetEntry2";
    EXPECT_EQ((*port)->words(denied).english,
              "Torvane is not running as administrator (CreateIpNetEntry2 error code 5)");
    helper::Answer refused;
    refused.refusal = helper::Refusal::LocalAddress;
    EXPECT_EQ((*port)->words(refused).english, helper::answerText(refused).english);
}

} // namespace
