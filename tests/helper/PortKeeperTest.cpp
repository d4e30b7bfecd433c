// The port keeper's sequence on fakes of its seams: what reaches the system, in which order,
// and that a refusal at any step leaves the ledger as if the message had not come.
#include "PortKeeper.h"
#include "Card.h"
#include "CardRequest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace helper;
using testing_support::cardRequest;

namespace {

constexpr int kIf = 2;
constexpr Ipv4 kCardIp{10, 77, 0, 20};
constexpr Mac kCardMac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
constexpr Mac kOtherMac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0x01};

HostFacts pc()
{
    HostFacts f;
    f.addresses = {{{10, 77, 0, 1}, 24, kIf}};
    f.gateways = {{10, 77, 0, 254}};
    return f;
}

Bytes replyTo(const Bytes& request, Ipv4 ip = kCardIp)
{
    return bootp::buildReply(request, {ip, {255, 255, 255, 0}, {10, 77, 0, 254}, {}});
}

/// Records the system calls the keeper asks for; each can be made to fail.
class FakeSeams final : public PortSeams, public EntryTable {
public:
    bool hostFacts(HostFacts& out) override
    {
        calls.push_back("hostFacts");
        out = host;
        return hostReadable;
    }
    double now() override { return clock; }
    Answer send(std::span<const std::uint8_t> reply, int ifindex) override
    {
        calls.push_back("send " + std::to_string(ifindex));
        sent.assign(reply.begin(), reply.end());
        return sendFails ? Answer{ENETDOWN, Refusal::None, "sendmsg"} : Answer{};
    }
    Answer writeEntry(const EntryRecord& r) override
    {
        calls.push_back("writeEntry " + std::to_string(r.ifindex) + " " + bootp::ipText(r.ip) +
                        " " + bootp::macText(r.mac));
        return {0, entryRefusal, {}};
    }
    Answer addTemporary(const TemporaryRecord& r) override
    {
        calls.push_back("addTemporary " + std::to_string(r.ifindex) + " " + bootp::ipText(r.card) +
                        " " + bootp::ipText(r.mask) + " " + bootp::ipText(r.gateway) + " " +
                        bootp::ipText(r.address) + " " + std::to_string(r.lifetime));
        return {0, temporaryRefusal, {}};
    }
    bool read(int, const Ipv4&, NeighbourEntry& out) override
    {
        calls.push_back("read");
        out = table;
        return tableReadable;
    }
    EntryResult write(const EntryRecord& r, const NeighbourEntry& before) override
    {
        calls.push_back(std::string("write") + (before.present ? " over" : ""));
        table = {true, true, r.mac, true};
        return {};
    }

    HostFacts host = pc();
    bool hostReadable = true;
    bool sendFails = false;
    Refusal entryRefusal = Refusal::None;
    Refusal temporaryRefusal = Refusal::None;
    NeighbourEntry table;
    bool tableReadable = true;
    double clock = 1000;
    std::vector<std::string> calls;
    Bytes sent;
};

using Calls = std::vector<std::string>;

/// A card's request arriving on kIf: from 0.0.0.0:68 to 255.255.255.255.
Arrival fromACard()
{
    Arrival a;
    a.ifindex = kIf;
    a.destination = {255, 255, 255, 255};
    a.sourcePort = 68;
    return a;
}

/// A keeper listening on fakes, with one card request passed on.
struct Keeper {
    Keeper()
    {
        keeper.setListening(true);
        id = keeper.arrived(request, fromACard())->id;
        system.calls.clear();
    }
    FakeSeams system;
    PortKeeper keeper{system};
    Bytes request = cardRequest();
    Bytes reply = replyTo(request);
    std::uint32_t id = 0;
};

} // namespace

TEST(PortKeeper, PassesOnCardRequestsOnlyWhileListeningAndOnlyACardsOwn)
{
    FakeSeams system;
    PortKeeper keeper(system);
    const Bytes q = cardRequest();
    EXPECT_FALSE(keeper.arrived(q, fromACard())) << "paused";
    keeper.setListening(true);
    Arrival loopback = fromACard();
    loopback.loopback = true;
    EXPECT_FALSE(keeper.arrived(q, loopback));
    Arrival otherPort = fromACard();
    otherPort.sourcePort = 40000;
    EXPECT_FALSE(keeper.arrived(q, otherPort)) << "not the client port";
    Arrival thisPc = fromACard();
    thisPc.source = {10, 77, 0, 1};
    EXPECT_FALSE(keeper.arrived(q, thisPc)) << "this PC's address";
    Arrival routed = fromACard();
    routed.source = {203, 0, 113, 50};
    routed.destination = {10, 77, 0, 1};
    EXPECT_FALSE(keeper.arrived(q, routed)) << "a host elsewhere, to this PC's address";

    const auto fresh = keeper.arrived(q, fromACard());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->ifindex, kIf);
    EXPECT_EQ(fresh->datagram, q);
    const auto again = keeper.arrived(q, fromACard());
    ASSERT_TRUE(again);
    EXPECT_NE(again->id, fresh->id);
    EXPECT_TRUE(system.calls.empty()) << "a card without an address cannot be this PC";
}

TEST(PortKeeper, PassesOnOnlyTheWantedCardsAndTheirRequestsOutliveAFlood)
{
    FakeSeams system;
    PortKeeper keeper(system);
    keeper.setListening(true);
    const Bytes wanted = cardRequest(300, kCardMac);
    const Bytes foreign = cardRequest(300, kOtherMac);
    EXPECT_TRUE(keeper.wants(foreign)) << "a search that names no card wants every card";
    ASSERT_TRUE(keeper.want(std::vector<Mac>{kCardMac}).ok());
    // Another card is passed on once, to be named, but not kept: no reply can answer it.
    const auto seen = keeper.arrived(foreign, fromACard());
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->id, 0u);
    EXPECT_EQ(keeper.reply(seen->id, replyTo(foreign)).refusal, Refusal::UnknownRequest);
    EXPECT_FALSE(keeper.arrived(foreign, fromACard())) << "named once";

    const auto first = keeper.arrived(wanted, fromACard());
    ASSERT_TRUE(first);
    EXPECT_NE(first->id, 0u);
    // Foreign MACs by the ledger's size many times over take none of its room, and only the
    // first kMaxSeenOnly of them are passed on at all.
    std::size_t named = 1;
    for (std::uint32_t i = 0; i < 8 * Ledger::kKept; ++i) {
        const auto other = keeper.arrived(
            cardRequest(300, {0x02, 0x11, 0, static_cast<std::uint8_t>(i >> 16),
                              static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}),
            fromACard());
        if (other) {
            EXPECT_EQ(other->id, 0u);
            ++named;
        }
    }
    EXPECT_EQ(named, kMaxSeenOnly);
    EXPECT_TRUE(keeper.reply(first->id, replyTo(wanted)).ok());

    // The set is bounded; a message that would overflow it changes nothing.
    std::vector<Mac> many;
    for (std::size_t i = 0; i + 1 < kMaxWanted; ++i) {
        many.push_back({0x02, 0x22, 0, static_cast<std::uint8_t>(i >> 16),
                        static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    }
    ASSERT_TRUE(keeper.want(many).ok()) << "kMaxWanted in all, with the first";
    EXPECT_EQ(keeper.want(std::vector<Mac>{kCardMac}).refusal, Refusal::None) << "already named";
    EXPECT_EQ(keeper.want(std::vector<Mac>{kOtherMac}).refusal, Refusal::Malformed);
    EXPECT_FALSE(keeper.wants(foreign));
    EXPECT_TRUE(keeper.wants(wanted));
}

TEST(PortKeeper, SendsAReplyAndWritesItsEntryOnlyAfterEveryCheck)
{
    Keeper k;
    EXPECT_TRUE(k.keeper.reply(k.id, k.reply).ok());
    EXPECT_EQ(k.system.calls, (Calls{"hostFacts", "send 2"}));
    EXPECT_EQ(k.system.sent, k.reply);

    k.system.calls.clear();
    EXPECT_TRUE(k.keeper.neighbour(k.id, kCardIp, kCardMac).ok());
    EXPECT_EQ(k.system.calls, (Calls{"hostFacts", "writeEntry 2 10.77.0.20 00-0A-1B-C2-3D-FF"}));
    EXPECT_EQ(k.keeper.neighbour(k.id, kCardIp, kCardMac).refusal, Refusal::NotReplied)
        << "one entry per reply";
}

TEST(PortKeeper, AReplyRefusedOrNotSentLeavesItsRequestUnanswered)
{
    struct Step {
        const char* what;
        void (*breakIt)(Keeper&);
        Answer expected;
        Calls calls;
    };
    for (const Step& s : {
             Step{"unknown id", [](Keeper& k) { k.id += 7; }, {0, Refusal::UnknownRequest, {}}, {}},
             Step{"expired",
                  [](Keeper& k) { k.system.clock += kReplyWindowSeconds + 1; },
                  {0, Refusal::Expired, {}},
                  {}},
             Step{"host unreadable",
                  [](Keeper& k) { k.system.hostReadable = false; },
                  {0, Refusal::KernelQuery, {}},
                  {"hostFacts"}},
             Step{"changed byte",
                  [](Keeper& k) { k.reply[40] ^= 1; },
                  {0, Refusal::ChangedBytes, {}},
                  {"hostFacts"}},
             Step{"the PC's address",
                  [](Keeper& k) { k.reply[bootp::kYiaddr + 3] = 1; },
                  {0, Refusal::LocalAddress, {}},
                  {"hostFacts"}},
             Step{"send fails",
                  [](Keeper& k) { k.system.sendFails = true; },
                  {ENETDOWN, Refusal::None, "sendmsg"},
                  {"hostFacts", "send 2"}},
         }) {
        Keeper k;
        const std::uint32_t id = k.id;
        s.breakIt(k);
        const Answer a = k.keeper.reply(k.id, k.reply);
        EXPECT_EQ(a.refusal, s.expected.refusal) << s.what;
        EXPECT_EQ(a.error, s.expected.error) << s.what;
        EXPECT_EQ(a.reason, s.expected.reason) << s.what;
        EXPECT_EQ(k.system.calls, s.calls) << s.what;

        // Not marked replied: there is no entry to write, and the request may still be answered.
        EXPECT_EQ(k.keeper.neighbour(id, kCardIp, kCardMac).refusal, Refusal::NotReplied) << s.what;
        k.system.hostReadable = true;
        k.system.sendFails = false;
        EXPECT_EQ(k.keeper.reply(id, replyTo(k.request)).ok(),
                  s.expected.refusal != Refusal::Expired)
            << s.what;
    }
}

TEST(PortKeeper, ARefusedEntryIsNeverWrittenAndFreesTheNextCard)
{
    struct Step {
        const char* what;
        void (*breakIt)(FakeSeams&);
        Ipv4 ip;
        Refusal expected;
        Calls calls;
    };
    for (const Step& s : {
             Step{"another address", [](FakeSeams&) {}, {10, 77, 0, 21}, Refusal::Mismatch, {}},
             Step{"host unreadable",
                  [](FakeSeams& f) { f.hostReadable = false; },
                  kCardIp,
                  Refusal::KernelQuery,
                  {"hostFacts"}},
             Step{"now the PC's address",
                  [](FakeSeams& f) {
                      f.host.addresses.push_back({kCardIp, 24, kIf});
                  },
                  kCardIp,
                  Refusal::LocalAddress,
                  {"hostFacts"}},
             Step{"the writer refuses",
                  [](FakeSeams& f) { f.entryRefusal = Refusal::OtherMac; },
                  kCardIp,
                  Refusal::OtherMac,
                  {"hostFacts", "writeEntry 2 10.77.0.20 00-0A-1B-C2-3D-FF"}},
         }) {
        Keeper k;
        const auto second = k.keeper.arrived(cardRequest(300, kOtherMac), fromACard());
        ASSERT_TRUE(k.keeper.reply(k.id, replyTo(k.request)).ok());
        EXPECT_EQ(k.keeper.reply(second->id, replyTo(second->datagram, {10, 77, 0, 22})).refusal,
                  Refusal::Outstanding);
        s.breakIt(k.system);
        k.system.calls.clear();
        EXPECT_EQ(k.keeper.neighbour(k.id, s.ip, kCardMac).refusal, s.expected) << s.what;
        EXPECT_EQ(k.system.calls, s.calls) << s.what;

        // A refusal after the ledger's allowed it ends the assignment: the next card goes on.
        k.system = FakeSeams{};
        const Refusal next =
            k.keeper.reply(second->id, replyTo(second->datagram, {10, 77, 0, 22})).refusal;
        EXPECT_EQ(next, s.expected == Refusal::Mismatch ? Refusal::Outstanding : Refusal::None)
            << s.what;
    }
}

TEST(PortKeeper, TemporaryAddressOnlyForTheOutstandingCardAndInsideItsSubnet)
{
    Keeper k;
    const Ipv4 outside{192, 168, 0, 20};
    const Bytes reply =
        bootp::buildReply(k.request, {outside, {255, 255, 255, 0}, {192, 168, 0, 1}, {}});
    EXPECT_EQ(k.keeper.temporary(k.id, {192, 168, 0, 254}, 60).refusal, Refusal::NotReplied);
    ASSERT_TRUE(k.keeper.reply(k.id, reply).ok());
    k.system.calls.clear();

    struct Step {
        const char* what;
        Ipv4 address;
        Refusal expected;
    };
    for (const Step& s : {
             Step{"the card's own", outside, Refusal::BadAddress},
             Step{"the card's gateway", {192, 168, 0, 1}, Refusal::BadAddress},
             Step{"the broadcast address", {192, 168, 0, 255}, Refusal::BadAddress},
             Step{"another subnet", {10, 77, 0, 30}, Refusal::BadAddress},
             Step{"the PC's own", {10, 77, 0, 1}, Refusal::BadAddress},
         }) {
        EXPECT_EQ(k.keeper.temporary(k.id, s.address, 60).refusal, s.expected) << s.what;
    }
    k.system.host.addresses.push_back({{192, 168, 0, 254}, 32, 3});
    EXPECT_EQ(k.keeper.temporary(k.id, {192, 168, 0, 254}, 60).refusal, Refusal::LocalAddress);
    k.system.hostReadable = false;
    EXPECT_EQ(k.keeper.temporary(k.id, {192, 168, 0, 253}, 60).refusal, Refusal::KernelQuery);
    k.system.hostReadable = true;
    EXPECT_EQ(std::count(k.system.calls.begin(), k.system.calls.end(), "hostFacts"), 7);
    k.system.calls.clear();

    // The lifetime stays within the helper's bounds whatever the front-end asks.
    EXPECT_TRUE(k.keeper.temporary(k.id, {192, 168, 0, 253}, 100000).ok());
    k.system.temporaryRefusal = Refusal::InUse;
    EXPECT_EQ(k.keeper.temporary(k.id, {192, 168, 0, 252}, 1).refusal, Refusal::InUse);
    EXPECT_EQ(k.system.calls, (Calls{"hostFacts",
                                     "addTemporary 2 192.168.0.20 255.255.255.0 192.168.0.1 "
                                     "192.168.0.253 180",
                                     "hostFacts",
                                     "addTemporary 2 192.168.0.20 255.255.255.0 192.168.0.1 "
                                     "192.168.0.252 6"}));
    // The assignment stays outstanding until its entry; after that, no temporary address.
    EXPECT_TRUE(k.keeper.neighbour(k.id, outside, kCardMac).ok());
    EXPECT_EQ(k.keeper.temporary(k.id, {192, 168, 0, 251}, 60).refusal, Refusal::NotReplied);
}

TEST(PortKeeper, AnAssignmentEndedWithoutAnEntryFreesTheNextCardAtOnce)
{
    Keeper k;
    const auto second = k.keeper.arrived(cardRequest(300, kOtherMac), fromACard());
    const Bytes secondReply = replyTo(second->datagram, {10, 77, 0, 22});
    EXPECT_EQ(k.keeper.finish(k.id).refusal, Refusal::NotReplied) << "before its reply";
    EXPECT_EQ(k.keeper.finish(k.id + 7).refusal, Refusal::UnknownRequest);
    ASSERT_TRUE(k.keeper.reply(k.id, k.reply).ok());
    EXPECT_EQ(k.keeper.reply(second->id, secondReply).refusal, Refusal::Outstanding);
    EXPECT_EQ(k.keeper.finish(second->id).refusal, Refusal::NotReplied)
        << "only the open assignment can be ended";

    k.system.calls.clear();
    EXPECT_TRUE(k.keeper.finish(k.id).ok());
    EXPECT_TRUE(k.system.calls.empty()) << "nothing is asked of the system";
    EXPECT_EQ(k.keeper.neighbour(k.id, kCardIp, kCardMac).refusal, Refusal::NotReplied)
        << "an ended assignment gets no entry afterwards";
    EXPECT_EQ(k.keeper.finish(k.id).refusal, Refusal::NotReplied) << "ended once";
    EXPECT_TRUE(k.keeper.reply(second->id, secondReply).ok()) << "the next card at once";
}

TEST(PortWriter, ChecksTheHostThenTheTableAndNeverWritesOverAnotherMac)
{
    const EntryRecord record{kIf, kCardIp, kCardMac};
    struct Step {
        const char* what;
        void (*set)(FakeSeams&);
        EntryResult expected;
        Calls calls;
    };
    for (const Step& s : {
             Step{"fresh", [](FakeSeams&) {}, {}, {"hostFacts", "read", "write"}},
             Step{"learnt from the card",
                  [](FakeSeams& f) {
                      f.table = {true, true, kCardMac, false};
                  },
                  {},
                  {"hostFacts", "read", "write over"}},
             Step{"host unreadable",
                  [](FakeSeams& f) { f.hostReadable = false; },
                  {0, Refusal::KernelQuery},
                  {"hostFacts"}},
             Step{"now a gateway",
                  [](FakeSeams& f) { f.host.gateways.push_back(kCardIp); },
                  {0, Refusal::GatewayAddress},
                  {"hostFacts"}},
             Step{"table unreadable",
                  [](FakeSeams& f) { f.tableReadable = false; },
                  {0, Refusal::KernelQuery},
                  {"hostFacts", "read"}},
             Step{"another MAC",
                  [](FakeSeams& f) {
                      f.table = {true, true, kOtherMac, false};
                  },
                  {0, Refusal::OtherMac},
                  {"hostFacts", "read"}},
         }) {
        FakeSeams f;
        s.set(f);
        const EntryResult r = writeChecked(f, f, record);
        EXPECT_EQ(r.refusal, s.expected.refusal) << s.what;
        EXPECT_EQ(r.error, s.expected.error) << s.what;
        EXPECT_EQ(f.calls, s.calls) << s.what;

        // In the process that checked the host, the same without asking it again.
        FakeSeams t;
        s.set(t);
        if (s.calls.size() > 1) {
            EXPECT_EQ(writeUnlessOtherMac(t, record).refusal, s.expected.refusal) << s.what;
            EXPECT_EQ(t.calls, Calls(s.calls.begin() + 1, s.calls.end())) << s.what;
        }
    }
}
