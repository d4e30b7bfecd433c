// The helper's checks without privileges: what it passes on, which replies and neighbour
// entries it refuses, its kernel filter, and the link's message decoding.
#include "CardRequest.h"
#include "ClassicBpf.h"
#include "Filter.h"
#include "Policy.h"
#include "Protocol.h"

#include <gtest/gtest.h>

using namespace helper;
using testing_support::cardRequest;

namespace {

// A PC on 10.77.0.1/24 (gateway 10.77.0.254) and 192.168.1.10/24 (gateway 192.168.1.1).
NetFacts pc()
{
    NetFacts f;
    f.addresses = {{{10, 77, 0, 1}, 24}, {{192, 168, 1, 10}, 24}, {{127, 0, 0, 1}, 8}};
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

Bytes withUdpHeader(const Bytes& payload, std::uint16_t sourcePort = 68)
{
    const auto length = static_cast<std::uint16_t>(payload.size() + 8);
    Bytes p{std::uint8_t(sourcePort >> 8), std::uint8_t(sourcePort), 0, 67,
            std::uint8_t(length >> 8),     std::uint8_t(length),     0, 0};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

bool filterKeeps(const Bytes& payload, std::uint16_t sourcePort = 68)
{
    return testing_support::runClassicBpf(cardRequestFilter(),
                                          withUdpHeader(payload, sourcePort)) != 0;
}

} // namespace

TEST(HelperPassOn, OnlyCardRequestsFromPort68OnARealInterfaceWithAUnicastMac)
{
    EXPECT_TRUE(passOn(cardRequest(), 68, false));
    EXPECT_TRUE(passOn(cardRequest(576), 68, false));
    EXPECT_FALSE(passOn(cardRequest(577), 68, false)) << "longer than any BOOTP client sends";
    EXPECT_FALSE(passOn(cardRequest(299), 68, false));
    EXPECT_FALSE(passOn(cardRequest(), 40000, false)) << "an ephemeral port on this PC";
    EXPECT_FALSE(passOn(cardRequest(), 68, true)) << "loopback";
    EXPECT_FALSE(passOn(cardRequest(300, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 68, false));
    EXPECT_FALSE(passOn(cardRequest(300, {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}), 68, false));
    EXPECT_FALSE(passOn(testing_support::foreignDiscover(), 68, false));
}

TEST(HelperAddress, RefusesWhatNoCardMayBeGiven)
{
    const NetFacts f = pc();
    EXPECT_FALSE(checkAddress({10, 77, 0, 20}, f));
    EXPECT_EQ(checkAddress({127, 0, 0, 1}, f), Refusal::BadAddress);
    EXPECT_EQ(checkAddress({0, 1, 2, 3}, f), Refusal::BadAddress);
    EXPECT_EQ(checkAddress({224, 0, 0, 1}, f), Refusal::BadAddress);
    EXPECT_EQ(checkAddress({240, 0, 0, 1}, f), Refusal::BadAddress);
    EXPECT_EQ(checkAddress({255, 255, 255, 255}, f), Refusal::BadAddress);
    EXPECT_EQ(checkAddress({10, 77, 0, 1}, f), Refusal::LocalAddress);
    EXPECT_EQ(checkAddress({192, 168, 1, 10}, f), Refusal::LocalAddress);
    EXPECT_EQ(checkAddress({10, 77, 0, 0}, f), Refusal::SubnetEdge);
    EXPECT_EQ(checkAddress({192, 168, 1, 255}, f), Refusal::SubnetEdge);
    EXPECT_EQ(checkAddress({10, 77, 0, 254}, f), Refusal::GatewayAddress);
    EXPECT_EQ(checkAddress({192, 168, 1, 1}, f), Refusal::GatewayAddress);
}

TEST(HelperReply, DiffersFromItsRequestOnlyWhereAReplyWrites)
{
    const NetFacts f = pc();
    const Bytes request = cardRequest(548);
    EXPECT_FALSE(checkReply(request, replyTo(request), f));
    for (std::size_t offset :
         {1u, 3u, 4u, 12u, 24u, 28u, 33u, 34u, 44u, 108u, 236u, 245u, 259u, 547u}) {
        Bytes changed = replyTo(request);
        changed[offset] ^= 0x5A;
        EXPECT_EQ(checkReply(request, changed, f), Refusal::ChangedBytes) << "offset " << offset;
    }
    Bytes longer = replyTo(request);
    longer.push_back(0);
    EXPECT_EQ(checkReply(request, longer, f), Refusal::ChangedBytes);
    Bytes stillRequest = replyTo(request);
    stillRequest[0] = 1;
    EXPECT_EQ(checkReply(request, stillRequest, f), Refusal::ChangedBytes);
    Bytes noEnd = replyTo(request);
    noEnd[258] = 0;
    EXPECT_EQ(checkReply(request, noEnd, f), Refusal::ChangedBytes);
}

TEST(HelperReply, RefusesAddressesMaskGatewayAndServerThatMakeNoSense)
{
    const NetFacts f = pc();
    const Bytes q = cardRequest();
    EXPECT_EQ(checkReply(q, replyTo(q, {127, 0, 0, 1}), f), Refusal::BadAddress);
    EXPECT_EQ(checkReply(q, replyTo(q, {224, 0, 0, 1}), f), Refusal::BadAddress);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 254}), f), Refusal::GatewayAddress);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 1}), f), Refusal::LocalAddress);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 0, 255, 0}), f), Refusal::BadMask);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 20}, {0, 0, 0, 0}), f), Refusal::BadMask);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 78, 0, 0}, {255, 255, 0, 0}, {0, 0, 0, 0}), f),
              Refusal::BadAddress)
        << "the network address of the card's own subnet";
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 0}, {10, 78, 0, 1}), f),
              Refusal::BadGateway);
    EXPECT_EQ(checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 0}, {10, 77, 0, 20}), f),
              Refusal::BadGateway);
    EXPECT_FALSE(checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 0}, {0, 0, 0, 0}), f));
    EXPECT_FALSE(checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 255}, {0, 0, 0, 0}), f));
    EXPECT_EQ(
        checkReply(q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 0}, {0, 0, 0, 0}, {8, 8, 8, 8}),
                   f),
        Refusal::BadServer);
    EXPECT_FALSE(checkReply(
        q, replyTo(q, {10, 77, 0, 20}, {255, 255, 255, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}), f));
}

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
    EXPECT_TRUE(filterKeeps(cardRequest()));
    EXPECT_TRUE(filterKeeps(cardRequest(576)));
    EXPECT_FALSE(filterKeeps(cardRequest(577)));
    EXPECT_FALSE(filterKeeps(cardRequest(299)));
    EXPECT_FALSE(filterKeeps(cardRequest(), 1234));
    EXPECT_FALSE(filterKeeps(testing_support::foreignDiscover()));
    for (std::size_t offset : {0u, 236u, 239u, 240u, 241u, 242u, 245u}) {
        Bytes q = cardRequest();
        q[offset] ^= 0x20;
        EXPECT_FALSE(filterKeeps(q)) << "offset " << offset;
    }
    EXPECT_FALSE(filterKeeps({}));
}

TEST(HelperProtocol, DecodesOnlyWellFormedMessages)
{
    Message reply(Tag::Reply);
    reply.id = 7;
    reply.bytes = cardRequest();
    const auto decoded = decode(encode(reply));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->id, 7u);
    EXPECT_EQ(decoded->bytes, reply.bytes);

    Message neighbour(Tag::Neighbour);
    neighbour.id = 9;
    neighbour.ip = {10, 77, 0, 20};
    neighbour.mac = {2, 0, 0, 0, 0, 1};
    const auto back = decode(encode(neighbour));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ip, neighbour.ip);
    EXPECT_EQ(back->mac, neighbour.mac);

    Bytes trailing = encode(Message(Tag::Listen));
    trailing.push_back(0);
    EXPECT_FALSE(decode(trailing));
    Bytes shortNeighbour = encode(neighbour);
    shortNeighbour.pop_back();
    EXPECT_FALSE(decode(shortNeighbour));
    reply.bytes = cardRequest(577);
    EXPECT_FALSE(decode(encode(reply)));
    EXPECT_FALSE(decode(Bytes{'Z'}));
    EXPECT_FALSE(decode(Bytes{}));
}
