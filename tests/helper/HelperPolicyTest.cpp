// The helper's checks without privileges: what it passes on, which replies and neighbour
// entries it refuses, its kernel filter, and the link's message decoding.
#include "CardRequest.h"
#include "ClassicBpf.h"
#include "Filter.h"
#include "Policy.h"
#include "Protocol.h"
#include "SystemCalls.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <linux/if_arp.h>
#include <linux/if_packet.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>

using namespace helper;
using testing_support::cardRequest;

namespace {

// A PC on 10.77.0.1/24 (interface 2, gateway 10.77.0.254) and 192.168.1.10/24 (interface 3,
// gateway 192.168.1.1).
HostFacts pc()
{
    HostFacts f;
    f.addresses = {{{10, 77, 0, 1}, 24, 2}, {{192, 168, 1, 10}, 24, 3}, {{127, 0, 0, 1}, 8, 1}};
    f.gateways = {{10, 77, 0, 254}, {192, 168, 1, 1}};
    return f;
}

Bytes replyTo(const Bytes& request, Ipv4 ip = {10, 77, 0, 20}, Ipv4 mask = {255, 255, 255, 0},
              Ipv4 gw = {10, 77, 0, 254}, Ipv4 server = {10, 77, 0, 1})
{
    Bytes r = request;
    r[0] = 2;
    std::copy(ip.begin(), ip.end(), r.begin() + 16);
    std::copy(server.begin(), server.end(), r.begin() + 20);
    const std::uint8_t options[13] = {1, 4,     mask[0], mask[1], mask[2], mask[3], 3,
                                      4, gw[0], gw[1],   gw[2],   gw[3],   255};
    std::copy(std::begin(options), std::end(options), r.begin() + 246);
    return r;
}

bool filterKeeps(const Bytes& packet)
{
    return testing_support::runClassicBpf(cardPacketFilter(), packet) != 0;
}

bool filterKeepsRequest(const Bytes& payload, std::uint16_t sourcePort = 68,
                        std::uint16_t destinationPort = 67, std::size_t optionWords = 0)
{
    return filterKeeps(
        testing_support::ipv4Udp(payload, sourcePort, destinationPort, {0, 0, 0, 0}, optionWords));
}

} // namespace

namespace {

/// How a factory-fresh card's request arrives: from 0.0.0.0:68 to 255.255.255.255 on a real
/// interface.
Arrival fromACard()
{
    Arrival a;
    a.ifindex = 2;
    a.destination = {255, 255, 255, 255};
    a.sourcePort = 68;
    return a;
}

} // namespace

TEST(HelperPassOn, OnlyCardRequestsFromPort68OnARealInterfaceWithAUnicastMac)
{
    EXPECT_TRUE(passOn(cardRequest(), fromACard()));
    EXPECT_TRUE(passOn(cardRequest(576), fromACard()));
    EXPECT_FALSE(passOn(cardRequest(577), fromACard())) << "longer than any BOOTP client sends";
    EXPECT_FALSE(passOn(cardRequest(299), fromACard()));
    Arrival ephemeral = fromACard();
    ephemeral.sourcePort = 40000;
    EXPECT_FALSE(passOn(cardRequest(), ephemeral)) << "an ephemeral port on this PC";
    Arrival loopback = fromACard();
    loopback.loopback = true;
    EXPECT_FALSE(passOn(cardRequest(), loopback));
    EXPECT_FALSE(passOn(cardRequest(300, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), fromACard()));
    EXPECT_FALSE(passOn(cardRequest(300, {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}), fromACard()));
    EXPECT_FALSE(passOn(testing_support::foreignDiscover(), fromACard()));
}

TEST(HelperPassOn, OnlyFromNoAddressToTheLimitedBroadcast)
{
    // A card without an address sends from 0.0.0.0; any other sender (this PC itself, a host
    // routed from elsewhere, a forged broadcast or loopback source) is not a fresh card.
    for (const Ipv4 source : {Ipv4{10, 77, 0, 1}, Ipv4{203, 0, 113, 50}, Ipv4{255, 255, 255, 255},
                              Ipv4{127, 0, 0, 2}, Ipv4{0, 0, 0, 1}}) {
        Arrival a = fromACard();
        a.source = source;
        EXPECT_FALSE(passOn(cardRequest(), a)) << bootp::ipText(source);
    }
    // Sent to 255.255.255.255 only: not to this PC's unicast address, another host's, or a
    // subnet's broadcast address.
    for (const Ipv4 destination : {Ipv4{10, 77, 0, 1}, Ipv4{10, 77, 0, 9}, Ipv4{10, 77, 0, 255},
                                   Ipv4{224, 0, 0, 1}, Ipv4{0, 0, 0, 0}}) {
        Arrival a = fromACard();
        a.destination = destination;
        EXPECT_FALSE(passOn(cardRequest(), a)) << bootp::ipText(destination);
    }
}

TEST(HelperEntry, RefusesWhatNoCardMayBeGiven)
{
    const HostFacts f = pc();
    const Mac card{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
    EXPECT_FALSE(checkEntry({10, 77, 0, 20}, card, f));
    EXPECT_EQ(checkEntry({127, 0, 0, 1}, card, f), Refusal::BadAddress);
    EXPECT_EQ(checkEntry({0, 1, 2, 3}, card, f), Refusal::BadAddress);
    EXPECT_EQ(checkEntry({224, 0, 0, 1}, card, f), Refusal::BadAddress);
    EXPECT_EQ(checkEntry({255, 255, 255, 255}, card, f), Refusal::BadAddress);
    EXPECT_EQ(checkEntry({10, 77, 0, 1}, card, f), Refusal::LocalAddress);
    EXPECT_EQ(checkEntry({192, 168, 1, 10}, card, f), Refusal::LocalAddress);
    EXPECT_EQ(checkEntry({10, 77, 0, 0}, card, f), Refusal::SubnetEdge);
    EXPECT_EQ(checkEntry({192, 168, 1, 255}, card, f), Refusal::SubnetEdge);
    EXPECT_EQ(checkEntry({10, 77, 0, 254}, card, f), Refusal::GatewayAddress);
    EXPECT_EQ(checkEntry({192, 168, 1, 1}, card, f), Refusal::GatewayAddress);
    EXPECT_EQ(checkEntry({10, 77, 0, 20}, Mac{0x01, 0, 0x5E, 0, 0, 1}, f), Refusal::BadMac);
    EXPECT_EQ(checkEntry({10, 77, 0, 20}, Mac{}, f), Refusal::BadMac);
}

TEST(HelperReply, DiffersFromItsRequestOnlyWhereAReplyWrites)
{
    const HostFacts f = pc();
    const Bytes request = cardRequest(548);
    EXPECT_FALSE(checkReply(request, replyTo(request), 2, f));
    for (std::size_t offset :
         {1u, 3u, 4u, 12u, 24u, 28u, 33u, 34u, 44u, 108u, 236u, 245u, 259u, 547u}) {
        Bytes changed = replyTo(request);
        changed[offset] ^= 0x5A;
        EXPECT_EQ(checkReply(request, changed, 2, f), Refusal::ChangedBytes) << "offset " << offset;
    }
    Bytes longer = replyTo(request);
    longer.push_back(0);
    EXPECT_EQ(checkReply(request, longer, 2, f), Refusal::ChangedBytes);
    Bytes stillRequest = replyTo(request);
    stillRequest[0] = 1;
    EXPECT_EQ(checkReply(request, stillRequest, 2, f), Refusal::ChangedBytes);
    Bytes noEnd = replyTo(request);
    noEnd[258] = 0;
    EXPECT_EQ(checkReply(request, noEnd, 2, f), Refusal::ChangedBytes);
}

struct ReplyCase {
    const char* name;
    Ipv4 ip;
    Ipv4 mask;
    Ipv4 gateway;
    Ipv4 server;
    std::optional<Refusal> expected;
};

class HelperReplyAddresses : public testing::TestWithParam<ReplyCase> {};

TEST_P(HelperReplyAddresses, AreCheckedByTheCardRulesAndAgainstThisPc)
{
    const ReplyCase& c = GetParam();
    const Bytes q = cardRequest();
    EXPECT_EQ(checkReply(q, replyTo(q, c.ip, c.mask, c.gateway, c.server), 2, pc()), c.expected);
}

constexpr Ipv4 kMask24{255, 255, 255, 0};
constexpr Ipv4 kNone{0, 0, 0, 0};
constexpr Ipv4 kServer{10, 77, 0, 1};

INSTANTIATE_TEST_SUITE_P(
    Table, HelperReplyAddresses,
    testing::Values(
        ReplyCase{"usual", {10, 77, 0, 20}, kMask24, {10, 77, 0, 254}, kServer, std::nullopt},
        ReplyCase{"noGatewayNoServer", {10, 77, 0, 20}, kMask24, kNone, kNone, std::nullopt},
        ReplyCase{"hostRoute", {10, 77, 0, 20}, {255, 255, 255, 255}, kNone, kServer, std::nullopt},
        ReplyCase{"loopback", {127, 0, 0, 1}, kMask24, kNone, kServer, Refusal::BadAddress},
        ReplyCase{"multicast", {224, 0, 0, 1}, kMask24, kNone, kServer, Refusal::BadAddress},
        ReplyCase{"pcsGateway", {10, 77, 0, 254}, kMask24, kNone, kServer, Refusal::GatewayAddress},
        ReplyCase{"pcsAddress", {10, 77, 0, 1}, kMask24, kNone, kServer, Refusal::LocalAddress},
        ReplyCase{"maskHoles", {10, 77, 0, 20}, {255, 0, 255, 0}, kNone, kServer, Refusal::BadMask},
        ReplyCase{"maskZero", {10, 77, 0, 20}, kNone, kNone, kServer, Refusal::BadMask},
        ReplyCase{
            "ownNetwork", {10, 78, 0, 0}, {255, 255, 0, 0}, kNone, kServer, Refusal::BadAddress},
        ReplyCase{"gatewayOutside",
                  {10, 77, 0, 20},
                  kMask24,
                  {10, 78, 0, 1},
                  kServer,
                  Refusal::BadGateway},
        ReplyCase{"gatewayIsCard",
                  {10, 77, 0, 20},
                  kMask24,
                  {10, 77, 0, 20},
                  kServer,
                  Refusal::BadGateway},
        // Accepted before: a gateway that is no host of the card's subnet.
        ReplyCase{
            "gatewayNetwork", {10, 99, 0, 20}, kMask24, {10, 99, 0, 0}, kNone, Refusal::BadGateway},
        ReplyCase{"gatewayBroadcast",
                  {10, 99, 0, 20},
                  kMask24,
                  {10, 99, 0, 255},
                  kNone,
                  Refusal::BadGateway},
        ReplyCase{"gatewayLoopback",
                  {10, 99, 0, 20},
                  {128, 0, 0, 0},
                  {127, 0, 0, 1},
                  kNone,
                  Refusal::BadGateway},
        // siaddr must be an address of the interface the request came in on (2).
        ReplyCase{
            "serverLoopback", {10, 77, 0, 20}, kMask24, kNone, {127, 0, 0, 1}, Refusal::BadServer},
        ReplyCase{"serverOtherInterface",
                  {10, 77, 0, 20},
                  kMask24,
                  kNone,
                  {192, 168, 1, 10},
                  Refusal::BadServer},
        ReplyCase{
            "serverForeign", {10, 77, 0, 20}, kMask24, kNone, {8, 8, 8, 8}, Refusal::BadServer}),
    [](const testing::TestParamInfo<ReplyCase>& i) { return i.param.name; });

TEST(HelperLedger, OneReplyPerPassedOnRequestOneAssignmentAtATime)
{
    Ledger ledger;
    const Bytes q = cardRequest();
    const Mac mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
    EXPECT_EQ(ledger.mayReply(1, 0), Refusal::UnknownRequest);
    const auto first = ledger.remember(q, 2, 100);
    const auto second = ledger.remember(q, 2, 101);
    EXPECT_EQ(ledger.mayWriteNeighbour(first, {10, 77, 0, 20}, mac, 102), Refusal::NotReplied);
    EXPECT_FALSE(ledger.mayReply(first, 102));
    ledger.replied(first, {10, 77, 0, 20});
    EXPECT_EQ(ledger.mayReply(first, 103), Refusal::AlreadyReplied);
    EXPECT_EQ(ledger.mayReply(second, 103), Refusal::Outstanding);
    EXPECT_EQ(ledger.mayWriteNeighbour(first, {10, 77, 0, 21}, mac, 103), Refusal::Mismatch);
    EXPECT_EQ(
        ledger.mayWriteNeighbour(first, {10, 77, 0, 20}, Mac{0, 0x0A, 0x1B, 0xC2, 0x3D, 0xFE}, 103),
        Refusal::Mismatch);
    EXPECT_FALSE(ledger.mayWriteNeighbour(first, {10, 77, 0, 20}, mac, 103));
    ledger.finished(first);
    EXPECT_EQ(ledger.mayWriteNeighbour(first, {10, 77, 0, 20}, mac, 104), Refusal::NotReplied);
    EXPECT_FALSE(ledger.mayReply(second, 104));
    EXPECT_EQ(ledger.mayReply(second, 101 + kReplyWindowSeconds + 1), Refusal::Expired);
}

TEST(HelperLedger, AnOutstandingAssignmentSurvivesAFloodOfRequests)
{
    Ledger ledger;
    const auto id = ledger.remember(cardRequest(), 2, 0);
    ledger.replied(id, {10, 77, 0, 20});
    for (int i = 0; i < 1000; ++i) {
        ledger.remember(cardRequest(), 2, 1);
    }
    EXPECT_NE(ledger.find(id), nullptr);
    EXPECT_FALSE(
        ledger.mayWriteNeighbour(id, {10, 77, 0, 20}, Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}, 2));
}

TEST(HelperFilter, KeepsCardRequestsAndDropsOtherTraffic)
{
    EXPECT_TRUE(filterKeepsRequest(cardRequest()));
    EXPECT_TRUE(filterKeepsRequest(cardRequest(576)));
    EXPECT_TRUE(filterKeepsRequest(cardRequest(), 68, 67, 3)) << "an IPv4 header with options";
    EXPECT_FALSE(filterKeepsRequest(cardRequest(577)));
    EXPECT_FALSE(filterKeepsRequest(cardRequest(299)));
    EXPECT_FALSE(filterKeepsRequest(cardRequest(), 1234));
    EXPECT_FALSE(filterKeepsRequest(cardRequest(), 68, 68)) << "another server's port";
    EXPECT_FALSE(filterKeepsRequest(testing_support::foreignDiscover()));
    for (std::size_t offset : {0u, 236u, 239u, 240u, 241u, 242u, 245u}) {
        Bytes q = cardRequest();
        q[offset] ^= 0x20;
        EXPECT_FALSE(filterKeepsRequest(q)) << "offset " << offset;
    }
    Bytes tcp = testing_support::ipv4Udp(cardRequest());
    tcp[9] = 6;
    EXPECT_FALSE(filterKeeps(tcp));
    for (std::uint8_t flags : {0x20, 0x00}) {
        Bytes fragment = testing_support::ipv4Udp(cardRequest());
        fragment[6] = flags;              // more fragments, or
        fragment[7] = flags == 0 ? 1 : 0; // a later fragment
        EXPECT_FALSE(filterKeeps(fragment));
    }
    Bytes dontFragment = testing_support::ipv4Udp(cardRequest());
    dontFragment[6] = 0x40;
    EXPECT_TRUE(filterKeeps(dontFragment));
    EXPECT_FALSE(filterKeeps({}));
}

TEST(HelperFilter, KeepsOnlyAnEthernetBroadcastFromNoAddressToTheLimitedBroadcast)
{
    const Bytes packet = testing_support::ipv4Udp(cardRequest());
    EXPECT_TRUE(filterKeeps(packet));
    EXPECT_TRUE(cardFrame(PACKET_BROADCAST, ARPHRD_ETHER));
    // Frames that are no card's broadcast on the wire: a unicast to this PC, one overheard for
    // another host, a multicast, this PC's own copy; and a tun device, which has no Ethernet.
    const testing_support::FrameFacts notACard[] = {
        {PACKET_HOST, ARPHRD_ETHER},         {PACKET_OTHERHOST, ARPHRD_ETHER},
        {PACKET_MULTICAST, ARPHRD_ETHER},    {PACKET_OUTGOING, ARPHRD_ETHER},
        {PACKET_HOST, ARPHRD_NONE},          {PACKET_BROADCAST, ARPHRD_NONE},
        {PACKET_BROADCAST, ARPHRD_LOOPBACK}, {PACKET_BROADCAST, ARPHRD_IEEE80211_RADIOTAP},
    };
    for (const auto& frame : notACard) {
        EXPECT_EQ(testing_support::runClassicBpf(cardPacketFilter(), packet, frame), 0u)
            << frame.packetType << " " << frame.hardwareType;
        EXPECT_FALSE(cardFrame(frame.packetType, frame.hardwareType))
            << frame.packetType << " " << frame.hardwareType;
    }
    for (const std::array<std::uint8_t, 4> source :
         {std::array<std::uint8_t, 4>{203, 0, 113, 50}, {255, 255, 255, 255}, {127, 0, 0, 2}}) {
        EXPECT_FALSE(filterKeeps(testing_support::ipv4Udp(cardRequest(), 68, 67, source)))
            << int(source[0]);
    }
    for (const std::array<std::uint8_t, 4> destination :
         {std::array<std::uint8_t, 4>{10, 77, 0, 1}, {10, 77, 0, 255}, {224, 0, 0, 1}}) {
        EXPECT_FALSE(filterKeeps(
            testing_support::ipv4Udp(cardRequest(), 68, 67, {0, 0, 0, 0}, 0, destination)))
            << int(destination[3]);
    }
}

TEST(HelperPacket, ReadsOnlyWholeIpv4UdpPacketsWithRightChecksums)
{
    const Bytes request = cardRequest();
    const Bytes packet =
        testing_support::ipv4Udp(request, 68, 67, {10, 77, 0, 9}, 2, {10, 77, 0, 255});
    const auto udp = udpInIpv4(packet);
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->sourcePort, 68);
    EXPECT_EQ(udp->destinationPort, 67);
    EXPECT_EQ(Bytes(udp->payload.begin(), udp->payload.end()), request);
    EXPECT_EQ(Ipv4(std::to_array(udp->source)), (Ipv4{10, 77, 0, 9}));
    EXPECT_EQ(Ipv4(std::to_array(udp->destination)), (Ipv4{10, 77, 0, 255}));

    Bytes noChecksum = packet;
    noChecksum[28 + 6] = noChecksum[28 + 7] = 0; // UDP checksum 0: none given
    EXPECT_TRUE(udpInIpv4(noChecksum));
    for (std::size_t offset : {1u, 12u, 19u}) { // IPv4 header: its checksum no longer fits
        Bytes changed = packet;
        changed[offset] ^= 0x01;
        EXPECT_FALSE(udpInIpv4(changed)) << "header byte " << offset;
    }
    for (std::size_t offset :
         {std::size_t{28 + 8}, packet.size() - 1}) { // payload: the UDP checksum
        Bytes changed = packet;
        changed[offset] ^= 0x01;
        EXPECT_FALSE(udpInIpv4(changed)) << "payload byte " << offset;
    }
    EXPECT_FALSE(udpInIpv4(Bytes(packet.begin(), packet.end() - 1))) << "cut short";
    EXPECT_FALSE(udpInIpv4(Bytes(packet.begin(), packet.begin() + 20)));
    Bytes v6 = packet;
    v6[0] = 0x65;
    EXPECT_FALSE(udpInIpv4(v6));
    Bytes noTimeToLive = packet;
    noTimeToLive[8] = 0;
    noTimeToLive[10] = noTimeToLive[11] = 0;
    std::uint32_t headerSum = 0;
    for (std::size_t k = 0; k < 28; k += 2) { // the header with its two option words
        headerSum += std::uint32_t(noTimeToLive[k]) << 8 | noTimeToLive[k + 1];
    }
    headerSum = (headerSum & 0xFFFF) + (headerSum >> 16);
    headerSum = ~(headerSum + (headerSum >> 16));
    noTimeToLive[10] = static_cast<std::uint8_t>(headerSum >> 8);
    noTimeToLive[11] = static_cast<std::uint8_t>(headerSum);
    EXPECT_FALSE(udpInIpv4(noTimeToLive)) << "time to live 0";
}

TEST(HelperLedger, EveryCardOfABurstCanBeAnsweredWithItsLatestRequests)
{
    Ledger ledger;
    std::vector<std::uint32_t> ids;
    for (std::uint8_t card = 0; card < 200; ++card) {
        ids.push_back(ledger.remember(cardRequest(300, {0x02, 0, 0, 0, 1, card}), 2, 0));
    }
    // Each card repeats its request many times while the operator works through the rack.
    std::vector<std::uint32_t> latest(200);
    for (int round = 0; round < 10; ++round) {
        for (std::uint8_t card = 0; card < 200; ++card) {
            latest[card] = ledger.remember(cardRequest(300, {0x02, 0, 0, 0, 1, card}), 2, 1);
        }
    }
    for (std::uint32_t id : latest) {
        EXPECT_FALSE(ledger.mayReply(id, 2));
    }
    EXPECT_EQ(ledger.mayReply(ids[0], 2), Refusal::UnknownRequest) << "older than kPerCard";
    EXPECT_EQ(ledger.size(), 200 * Ledger::kPerCard);
}

TEST(HelperProtocol, DecodesOnlyWellFormedMessages)
{
    const Reply reply{7, cardRequest()};
    const auto decoded = decodeToHelper(encode(ToHelper(reply)));
    ASSERT_TRUE(decoded && std::holds_alternative<Reply>(*decoded));
    EXPECT_EQ(std::get<Reply>(*decoded).id, 7u);
    EXPECT_EQ(std::get<Reply>(*decoded).datagram, reply.datagram);

    const Neighbour neighbour{9, {10, 77, 0, 20}, {2, 0, 0, 0, 0, 1}};
    const auto back = decodeToHelper(encode(ToHelper(neighbour)));
    ASSERT_TRUE(back && std::holds_alternative<Neighbour>(*back));
    EXPECT_EQ(std::get<Neighbour>(*back).ip, neighbour.ip);
    EXPECT_EQ(std::get<Neighbour>(*back).mac, neighbour.mac);

    const Temporary temporary{9, {192, 168, 0, 254}, 180};
    const auto t = decodeToHelper(encode(ToHelper(temporary)));
    ASSERT_TRUE(t && std::holds_alternative<Temporary>(*t));
    EXPECT_EQ(std::get<Temporary>(*t).id, 9u);
    EXPECT_EQ(std::get<Temporary>(*t).address, temporary.address);
    EXPECT_EQ(std::get<Temporary>(*t).lifetime, 180u);
    Bytes shortTemporary = encode(ToHelper(temporary));
    shortTemporary.pop_back();
    EXPECT_FALSE(decodeToHelper(shortTemporary));
    const auto finish = decodeToHelper(encode(ToHelper(Finish{11})));
    ASSERT_TRUE(finish && std::holds_alternative<Finish>(*finish));
    EXPECT_EQ(std::get<Finish>(*finish).id, 11u);
    Bytes longFinish = encode(ToHelper(Finish{11}));
    longFinish.push_back(0);
    EXPECT_FALSE(decodeToHelper(longFinish));

    Bytes trailing = encode(ToHelper(Listen{}));
    trailing.push_back(0);
    EXPECT_FALSE(decodeToHelper(trailing));
    Bytes shortNeighbour = encode(ToHelper(neighbour));
    shortNeighbour.pop_back();
    EXPECT_FALSE(decodeToHelper(shortNeighbour));
    EXPECT_FALSE(decodeToHelper(encode(ToHelper(Reply{7, cardRequest(577)}))));
    EXPECT_FALSE(decodeToHelper(Bytes{'Z'}));
    EXPECT_FALSE(decodeToHelper(Bytes{}));
    // A set of wanted cards: whole MACs, one to as many as fit in one link message.
    Want full;
    for (std::size_t i = 0; i < kWantedPerMessage; ++i) {
        full.macs.push_back(
            {2, 0, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    }
    const Bytes fullBytes = encode(ToHelper(full));
    EXPECT_LE(encode(Command{1, full}).size(), kMaxMessage) << "with its serial";
    const auto wanted = decodeToHelper(fullBytes);
    ASSERT_TRUE(wanted && std::holds_alternative<Want>(*wanted));
    EXPECT_EQ(std::get<Want>(*wanted).macs, full.macs);
    Bytes partMac = fullBytes;
    partMac.pop_back();
    EXPECT_FALSE(decodeToHelper(partMac));
    Want tooMany = full;
    tooMany.macs.push_back({2, 0, 0, 0, 9, 9});
    EXPECT_FALSE(decodeToHelper(encode(ToHelper(tooMany))));
    EXPECT_FALSE(decodeToHelper(encode(ToHelper(Want{}))));
    // A front-end's message is never taken for one of the helper's, nor the other way round.
    EXPECT_FALSE(decodeFromHelper(encode(ToHelper(reply))));
    EXPECT_FALSE(decodeToHelper(encode(FromHelper(Bound{0}))));

    // An answer keeps the kernel's errno and the helper's refusal apart.
    const auto refused = decodeFromHelper(encode(FromHelper(Answer{0, Refusal::OtherMac, "x"})));
    ASSERT_TRUE(refused && std::holds_alternative<Answer>(*refused));
    EXPECT_EQ(std::get<Answer>(*refused).refusal, Refusal::OtherMac);
    EXPECT_EQ(std::get<Answer>(*refused).error, 0);
    Bytes unknownRefusal = encode(FromHelper(Answer{0, Refusal::OtherMac, ""}));
    unknownRefusal[9] = 0x7F; // tag, serial, error, then the refusal
    EXPECT_FALSE(decodeFromHelper(unknownRefusal));
}

TEST(HelperProtocol, EachCommandCarriesTheSerialItsAnswerRepeats)
{
    const Command command{0x01020304, Neighbour{9, {10, 77, 0, 20}, {2, 0, 0, 0, 0, 1}}};
    const Bytes bytes = encode(command);
    const auto back = decodeCommand(bytes);
    ASSERT_TRUE(back && std::holds_alternative<Neighbour>(back->message));
    EXPECT_EQ(back->serial, 0x01020304u);
    EXPECT_EQ(serialOf(bytes), 0x01020304u);
    EXPECT_EQ(std::get<Neighbour>(back->message).id, 9u);
    EXPECT_FALSE(decodeCommand(encode(ToHelper(Listen{})))) << "a message without its serial";

    // A malformed command is refused under its own serial; one too short has none.
    Bytes malformed = encode(Command{77, Listen{}});
    malformed.push_back(0);
    EXPECT_FALSE(decodeCommand(malformed));
    EXPECT_EQ(serialOf(malformed), 77u);
    EXPECT_EQ(serialOf(Bytes{'Z'}), 0u);

    const auto answer = decodeFromHelper(encode(FromHelper(Answer{0, Refusal::None, "", 77})));
    ASSERT_TRUE(answer && std::holds_alternative<Answer>(*answer));
    EXPECT_EQ(std::get<Answer>(*answer).serial, 77u);
}

namespace {

/// What the filter decides for one system call: the seccomp_data fields laid out as the
/// runner reads them (big-endian words at the kernel's offsets).
std::uint32_t decide(std::span<const sock_filter> program, int nr, std::uint32_t arg0 = 0,
                     std::uint32_t arg1 = 0, std::uint32_t arch = auditArch())
{
    Bytes data(sizeof(seccomp_data), 0);
    const auto put = [&](std::size_t offset, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            data[offset + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(v >> (24 - 8 * i));
        }
    };
    put(offsetof(seccomp_data, nr), static_cast<std::uint32_t>(nr));
    put(offsetof(seccomp_data, arch), arch);
    put(offsetof(seccomp_data, args), arg0);
    put(offsetof(seccomp_data, args) + 8, arg1);
    return testing_support::runClassicBpf(program, data);
}

} // namespace

namespace {

// The listener's descriptors as main.cpp hands them over: the link, the writer's link,
// rtnetlink, UDP port 67; the packet socket is the next one.
constexpr int kLink = 3;
constexpr int kWriterLink = 4;
constexpr int kRoute = 5;
constexpr int kUdp = 6;
constexpr int kPackets = 7;

std::vector<sock_filter> listenerFilter()
{
    const int senders[] = {kLink, kWriterLink, kRoute};
    return systemCallFilter(listenerCalls(senders, kUdp));
}

} // namespace

TEST(HelperSystemCalls, NeitherProcessCanOpenASocketOrRaiseACapability)
{
    for (const auto& program : {listenerFilter(), systemCallFilter(writerCalls())}) {
        for (int nr : {SYS_socket, SYS_socketpair, SYS_capset, SYS_capget, SYS_setsockopt, SYS_bind,
                       SYS_connect, SYS_execve, SYS_fork, SYS_clone, SYS_openat, SYS_prctl,
                       SYS_ptrace, SYS_setuid, SYS_dup2, SYS_mprotect, SYS_sendmmsg, SYS_writev}) {
            EXPECT_EQ(decide(program, nr), SECCOMP_RET_KILL_PROCESS) << "call " << nr;
        }
        EXPECT_EQ(decide(program, SYS_recvmsg), SECCOMP_RET_ALLOW);
        EXPECT_EQ(decide(program, SYS_sendto, kLink), SECCOMP_RET_ALLOW);
        EXPECT_EQ(decide(program, SYS_write, 2), SECCOMP_RET_ALLOW);
        EXPECT_EQ(decide(program, SYS_exit_group), SECCOMP_RET_ALLOW);
        EXPECT_EQ(decide(program, SYS_recvmsg, 0, 0, 0x12345678), SECCOMP_RET_KILL_PROCESS)
            << "another architecture's numbers";
    }
    const auto listener = listenerFilter();
    EXPECT_EQ(decide(listener, SYS_ioctl, 5, SIOCGIFNAME), SECCOMP_RET_ALLOW);
    EXPECT_EQ(decide(listener, SYS_ioctl, 5, SIOCGIFFLAGS), SECCOMP_RET_ALLOW);
    EXPECT_EQ(decide(listener, SYS_ioctl, 5, SIOCSIFFLAGS), SECCOMP_RET_KILL_PROCESS);
    EXPECT_EQ(decide(listener, SYS_ioctl, 5, SIOCSIFMTU), SECCOMP_RET_KILL_PROCESS);
    // The batch read, and the packet socket's counters but no other option.
    EXPECT_EQ(decide(listener, SYS_recvmmsg), SECCOMP_RET_ALLOW);
    EXPECT_EQ(decide(listener, SYS_getsockopt, 5, SOL_PACKET), SECCOMP_RET_ALLOW);
    EXPECT_EQ(decide(listener, SYS_getsockopt, 5, SOL_SOCKET), SECCOMP_RET_KILL_PROCESS);
    EXPECT_EQ(decide(systemCallFilter(writerCalls()), SYS_recvmmsg), SECCOMP_RET_KILL_PROCESS);
    // The writer reads an interface's name and hardware address for its ARP probe, and
    // changes nothing of the interface through ioctl.
    const auto writer = systemCallFilter(writerCalls());
    EXPECT_EQ(decide(writer, SYS_ioctl, 5, SIOCGIFHWADDR), SECCOMP_RET_ALLOW);
    EXPECT_EQ(decide(writer, SYS_ioctl, 5, SIOCGIFNAME), SECCOMP_RET_ALLOW);
    for (unsigned long request : {SIOCSIFHWADDR, SIOCSIFADDR, SIOCSIFFLAGS, SIOCGIFFLAGS}) {
        EXPECT_EQ(decide(writer, SYS_ioctl, 5, request), SECCOMP_RET_KILL_PROCESS) << request;
    }
}

TEST(HelperSystemCalls, TheListenerSendsOnlyWhereItMust)
{
    const auto listener = listenerFilter();
    for (int fd : {kLink, kWriterLink, kRoute}) {
        EXPECT_EQ(decide(listener, SYS_sendto, static_cast<std::uint32_t>(fd)), SECCOMP_RET_ALLOW)
            << fd;
    }
    EXPECT_EQ(decide(listener, SYS_sendmsg, kUdp), SECCOMP_RET_ALLOW) << "the replies";
    // The packet socket could put any frame on the wire (an ARP reply, say): no call sends on it.
    for (int nr : {SYS_sendto, SYS_sendmsg, SYS_write}) {
        EXPECT_EQ(decide(listener, nr, kPackets), SECCOMP_RET_KILL_PROCESS) << "call " << nr;
    }
    EXPECT_EQ(decide(listener, SYS_sendmsg, kLink), SECCOMP_RET_KILL_PROCESS);
    // A batch of messages goes to the front-end only.
    EXPECT_EQ(decide(listener, SYS_sendmmsg, kLink), SECCOMP_RET_ALLOW);
    for (int fd : {kWriterLink, kRoute, kUdp, kPackets}) {
        EXPECT_EQ(decide(listener, SYS_sendmmsg, static_cast<std::uint32_t>(fd)),
                  SECCOMP_RET_KILL_PROCESS)
            << fd;
    }
    EXPECT_EQ(decide(systemCallFilter(writerCalls()), SYS_sendmmsg, kLink),
              SECCOMP_RET_KILL_PROCESS);
    EXPECT_EQ(decide(listener, SYS_sendto, kUdp), SECCOMP_RET_KILL_PROCESS);
    EXPECT_EQ(decide(listener, SYS_write, kUdp), SECCOMP_RET_KILL_PROCESS);
    EXPECT_EQ(decide(listener, SYS_read, kPackets), SECCOMP_RET_ALLOW);
}
