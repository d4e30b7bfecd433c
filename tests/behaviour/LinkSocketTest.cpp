// The windows' socket over the link to the holder of the card port, on a fake link: every
// card's assignment ends in the link's ledger, with its entry or without one.
#include "LinkSocket.h"
#include "CardRequest.h"
#include "SearchFailure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

/// Records what the socket asks of the link; answers can be set per command.
class FakeLink final : public helper::Link {
public:
    helper::Answer listen() override { return log("listen"); }
    helper::Answer pause() override { return log("pause"); }
    helper::Answer want(std::span<const helper::Mac>) override { return log("want"); }
    helper::Answer reply(std::uint32_t id, const helper::Bytes&) override
    {
        log("reply " + std::to_string(id));
        return replyAnswer;
    }
    helper::Answer neighbour(std::uint32_t id, const helper::Ipv4&, const helper::Mac&) override
    {
        return log("neighbour " + std::to_string(id));
    }
    helper::Answer finish(std::uint32_t id) override
    {
        log("finish " + std::to_string(id));
        return finishAnswer;
    }
    helper::Answer temporary(std::uint32_t id, const helper::Ipv4& address,
                             std::uint32_t lifetime) override
    {
        log("temporary " + std::to_string(id) + " " + bootp::ipText(address) + " " +
            std::to_string(lifetime));
        if (temporaryAnswers.empty()) {
            return {};
        }
        const helper::Answer a = temporaryAnswers.front();
        temporaryAnswers.pop_front();
        return a;
    }
    std::deque<helper::Answer> temporaryAnswers;
    std::optional<helper::Request> readRequest() override
    {
        if (requests.empty()) {
            return std::nullopt;
        }
        helper::Request r = requests.front();
        requests.pop_front();
        return r;
    }
    bool died() const override { return false; }
    std::uintptr_t waitHandle() const override { return 0; }
    void stop() override {}

    helper::Answer log(const std::string& call)
    {
        calls.push_back(call);
        return {};
    }
    Calls calls;
    std::deque<helper::Request> requests;
    helper::Answer replyAnswer;
    helper::Answer finishAnswer;
};

class FakeHooks final : public LinkHooks {
public:
    explicit FakeHooks(FakeLink& link) : m_link(link) {}
    helper::Link& open(int) override
    {
        if (!m_open) {
            // A link started anew knows nothing of the last one.
            m_link.calls.push_back("start");
            m_open = true;
        }
        return m_link;
    }
    helper::Link* link() override { return m_open ? &m_link : nullptr; }
    void end() override { m_open = false; }
    void watch() override {}
    void unwatch() override {}
    std::string localIP() const override { return "10.77.0.1"; }
    std::string interfaceName(int) const override { return "pc0"; }
    std::optional<std::vector<Address>> interfaceAddresses(int) const override { return addresses; }
    std::optional<std::vector<Address>> addresses = std::vector<Address>{{0x0A4D0001, 24}};
    bool interfaceExists(int) const override { return true; }

private:
    FakeLink& m_link;
    bool m_open = false;
};

/// A socket over the fake link with one card's request read, as the window reads it.
struct Socket {
    Socket()
    {
        socket.setRemoteHost("255.255.255.255");
        socket.setRemotePort(68);
        socket.bind(67);
        nextCard();
    }
    void nextCard()
    {
        link.requests.push_back({++id, 2, testing_support::cardRequest()});
        socket.DataArrival = [this](std::int32_t n) { socket.getData(n); };
        session->hooks->readable();
        socket.close();
        link.calls.clear();
    }
    FakeLink link;
    std::shared_ptr<LinkSession> session =
        std::make_shared<LinkSession>(std::make_unique<FakeHooks>(link));
    LinkSocket socket{session};
    LinkNeighbourTable neighbours{session};
    std::uint32_t id = 0;
};

} // namespace

TEST(LinkSocket, ListeningAgainEndsAnAssignmentThatGotNoEntry)
{
    Socket s;
    s.socket.sendData(testing_support::cardRequest());
    s.socket.bind(67);
    EXPECT_EQ(s.link.calls, (Calls{"reply 1", "finish 1", "listen"}));

    // With its entry the assignment has ended already.
    s.nextCard();
    s.socket.sendData(testing_support::cardRequest());
    EXPECT_TRUE(
        s.neighbours.addPermanent(2, {10, 77, 0, 20}, {0, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}).empty());
    s.socket.bind(67);
    EXPECT_EQ(s.link.calls, (Calls{"reply 2", "neighbour 2", "listen"}));

    // Ended once only.
    s.link.calls.clear();
    s.socket.close();
    s.socket.bind(67);
    EXPECT_EQ(s.link.calls, (Calls{"pause", "listen"}));
}

TEST(LinkSocket, AReplyThatMayHaveLeftIsEndedAndARefusedOneIsNot)
{
    struct Step {
        const char* what;
        helper::Answer reply;
        Calls calls;
    };
    for (const Step& step : {
             Step{"refused", {0, helper::Refusal::Outstanding, {}}, {"reply 1", "listen"}},
             Step{"no answer",
                  {ETIMEDOUT, helper::Refusal::None, {}},
                  {"reply 1", "finish 1", "listen"}},
         }) {
        Socket s;
        s.link.replyAnswer = step.reply;
        // What the helper says to a finish it has no assignment for is not worth a line.
        s.link.finishAnswer = {0, helper::Refusal::NotReplied, {}};
        EXPECT_THROW(s.socket.sendData(testing_support::cardRequest()), SearchFailure) << step.what;
        s.socket.bind(67);
        EXPECT_EQ(s.link.calls, step.calls) << step.what;
    }
}

TEST(LinkSocket, AnEndedSearchLeavesNothingToEnd)
{
    Socket s;
    s.socket.sendData(testing_support::cardRequest());
    s.socket.endSearch();
    s.socket.bind(67);
    EXPECT_EQ(s.link.calls, (Calls{"reply 1", "pause", "start", "listen"}));
}

TEST(LinkSocket, TheArrivalAddressIsALinkLocalOneOnlyWhereThereIsNoOther)
{
    Socket s;
    auto& hooks = static_cast<FakeHooks&>(s.socket.hooks());
    const LinkHooks::Address linkLocal{0xA9FE1707, 16}; // 169.254.23.7
    const LinkHooks::Address other{0x0A320002, 24};     // 10.50.0.2
    hooks.addresses = std::vector<LinkHooks::Address>{linkLocal, other};
    EXPECT_EQ(s.socket.arrivalAddress(), "10.50.0.2");
    hooks.addresses = std::vector<LinkHooks::Address>{linkLocal};
    EXPECT_EQ(s.socket.arrivalAddress(), "169.254.23.7");
    hooks.addresses = std::vector<LinkHooks::Address>{};
    EXPECT_EQ(s.socket.arrivalAddress(), "");
    hooks.addresses = std::nullopt;
    EXPECT_EQ(s.socket.arrivalAddress(), "") << "unreadable: no address to name";
}

TEST(LinkSocket, ATemporaryAddressPassesOverDevicesThatAnswerForIt)
{
    Socket s;
    auto& hooks = static_cast<FakeHooks&>(s.socket.hooks());
    hooks.addresses = std::vector<LinkHooks::Address>{{0xA9FE1707, 16}}; // 169.254.23.7/16
    const NeighbourTable::Card card{{192, 168, 0, 20}, {255, 255, 255, 0}, {192, 168, 0, 254}};
    const auto first = s.neighbours.proposeTemporary(card);
    ASSERT_EQ(first, (NeighbourTable::Ip{192, 168, 0, 253}));

    // Two devices answer, the third address is free; another NIC holds none of them.
    const helper::Answer inUse{0, helper::Refusal::InUse, {}};
    s.link.temporaryAnswers = {inUse, {0, helper::Refusal::LocalAddress, {}}};
    const NeighbourTable::Temporary t = s.neighbours.addTemporary(card, *first);
    EXPECT_EQ(t.address, (NeighbourTable::Ip{192, 168, 0, 251}));
    EXPECT_EQ(s.link.calls, (Calls{"temporary 1 192.168.0.253 180", "temporary 1 192.168.0.252 180",
                                   "temporary 1 192.168.0.251 180"}));

    // Watched on its interface: there as a /32, or gone.
    hooks.addresses->push_back({0xC0A800FB, 32});
    EXPECT_TRUE(s.neighbours.temporaryPresent());
    hooks.addresses->pop_back();
    EXPECT_FALSE(s.neighbours.temporaryPresent());
    hooks.addresses = std::nullopt;
    EXPECT_TRUE(s.neighbours.temporaryPresent()) << "unreadable is no proof that it went";

    // Any other refusal ends the tries with its words; so do too many devices answering.
    s.link.calls.clear();
    s.link.temporaryAnswers = {{0, helper::Refusal::NotReplied, {}}};
    EXPECT_FALSE(s.neighbours.addTemporary(card, *first).address);
    EXPECT_EQ(s.link.calls.size(), 1u);
    s.link.calls.clear();
    s.link.temporaryAnswers.assign(20, inUse);
    const NeighbourTable::Temporary busy = s.neighbours.addTemporary(card, *first);
    EXPECT_FALSE(busy.address);
    EXPECT_EQ(busy.failure.english, "another device answered for the address");
    EXPECT_EQ(s.link.calls.size(), 8u);

    // The end of the search takes it away: nothing left to watch.
    s.socket.endSearch();
    EXPECT_TRUE(s.neighbours.temporaryPresent());
}

TEST(LinkSocket, TheNetshLinesAddThenRemoveAddressAndRouteForThisBootOnly)
{
    const auto lines = netshTemporaryLines("Ethernet 2", {192, 168, 0, 254}, {192, 168, 0, 20});
    EXPECT_EQ(lines[0], "netsh interface ipv4 add address \"Ethernet 2\" 192.168.0.254 "
                        "255.255.255.255 store=active");
    EXPECT_EQ(lines[1],
              "netsh interface ipv4 add route 192.168.0.20/32 \"Ethernet 2\" store=active");
    EXPECT_EQ(lines[2],
              "netsh interface ipv4 delete route 192.168.0.20/32 \"Ethernet 2\" store=active");
    EXPECT_EQ(lines[3],
              "netsh interface ipv4 delete address \"Ethernet 2\" 192.168.0.254 store=active");
}
