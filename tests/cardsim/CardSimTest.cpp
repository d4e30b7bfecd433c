#include "CardSim.h"
#include "BootMessage.h"
#include "BootP.h"
#include "HttpPage.h"
#include "SimOptions.h"
#include "Output.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

using namespace cardsim;

namespace {

const Mac kMac{0x02, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
constexpr std::uint32_t kXid = 0x12345678;

class CardSimTest : public ::testing::Test {
protected:
    static Bytes replyTo(const Bytes& request)
    {
        behaviour::PublicArea area;
        area.G_IpAddr = {192, 168, 0, 20};
        area.G_LocalIp = {192, 168, 0, 5};
        area.G_SbMask = {255, 255, 255, 0};
        area.G_GateWay = {192, 168, 0, 1};
        Bytes reply = request;
        EXPECT_TRUE(behaviour::makeReply(reply, area));
        return reply;
    }
};

TEST_F(CardSimTest, requestIsACardRequestOfAtLeastTheMinimumLength)
{
    for (const std::size_t asked : {std::size_t{0}, std::size_t{299}, std::size_t{300},
                                    std::size_t{548}, std::size_t{1472}}) {
        const Bytes m = buildCardRequest(kXid, kMac, asked);
        EXPECT_EQ(m.size(), std::max<std::size_t>(asked, 300)) << asked;
        EXPECT_TRUE(behaviour::chkRequest(m)) << asked;
        EXPECT_EQ(xidOf(m), kXid);
        EXPECT_TRUE(std::equal(kMac.begin(), kMac.end(), m.begin() + bootp::kChaddr));
        EXPECT_EQ(m[bootp::kHtype], 1);
        EXPECT_EQ(m[bootp::kHlen], 6);
        EXPECT_EQ(m[bootp::kReplyOptions], bootp::kOptEnd);
    }
}

TEST_F(CardSimTest, requestLeavesFromNoAddressToTheLimitedBroadcast)
{
    // Odd lengths too: the UDP checksum pads the last byte.
    for (const std::size_t length : {std::size_t{300}, std::size_t{301}, std::size_t{1472}}) {
        const Bytes m = buildCardRequest(kXid, kMac, length);
        const Bytes p = broadcastPacket(m);
        ASSERT_EQ(p.size(), 28 + length);
        EXPECT_EQ(p[0], 0x45);
        EXPECT_EQ(p[9], 17);
        EXPECT_NE(p[8], 0) << "time to live";
        EXPECT_EQ(Bytes(p.begin() + 12, p.begin() + 16), Bytes(4, 0)) << "from 0.0.0.0";
        EXPECT_EQ(Bytes(p.begin() + 16, p.begin() + 20), Bytes(4, 0xFF)) << "to the broadcast";
        EXPECT_EQ(Bytes(p.begin() + 20, p.begin() + 24), (Bytes{0, 68, 0, 67}));
        EXPECT_EQ(Bytes(p.begin() + 28, p.end()), m);
        // Both checksums hold: the sums, their own field included, come to 0xFFFF.
        const auto sum = [&](std::size_t from, std::size_t to, std::uint32_t s) {
            for (std::size_t i = from; i < to; i += 2) {
                s += std::uint32_t(p[i]) << 8 | (i + 1 < to ? p[i + 1] : 0);
            }
            while (s >> 16) {
                s = (s & 0xFFFF) + (s >> 16);
            }
            return s;
        };
        EXPECT_EQ(sum(0, 20, 0), 0xFFFFu);
        EXPECT_EQ(sum(20, p.size(), sum(12, 20, 17 + static_cast<std::uint32_t>(length + 8))),
                  0xFFFFu)
            << length;
    }
}

TEST_F(CardSimTest, replyMadeFromTheRequestPassesAndGivesTheValues)
{
    for (const bool strict : {false, true}) {
        for (const std::size_t length : {300u, 548u}) {
            const Bytes request = buildCardRequest(kXid, kMac, length);
            const ReplyCheck check = checkReply(request, replyTo(request), strict);
            ASSERT_TRUE(check.ok()) << check.message;
            EXPECT_EQ(dotted(check.assignment.address), "192.168.0.20");
            EXPECT_EQ(dotted(check.assignment.mask), "255.255.255.0");
            EXPECT_EQ(dotted(check.assignment.gateway), "192.168.0.1");
            EXPECT_EQ(dotted(check.assignment.server), "192.168.0.5");
        }
    }
}

struct Broken {
    const char* name;
    std::function<void(Bytes&)> change;
    ReplyFault fault;       // what the check finds
    ReplyFault strictFault; // what the strict check finds
};

void PrintTo(const Broken& b, std::ostream* os)
{
    *os << b.name;
}

class BrokenReplyTest : public CardSimTest, public ::testing::WithParamInterface<Broken> {};

TEST_P(BrokenReplyTest, isRefusedForTheRightReason)
{
    const Bytes request = buildCardRequest(kXid, kMac, 548);
    Bytes reply = replyTo(request);
    GetParam().change(reply);
    const ReplyCheck check = checkReply(request, reply);
    EXPECT_EQ(check.fault, GetParam().fault) << faultName(check.fault) << ": " << check.message;
    EXPECT_EQ(check.ok(), check.message.empty());
    EXPECT_EQ(checkReply(request, reply, true).fault, GetParam().strictFault);
}

auto flip(std::size_t offset)
{
    return [offset](Bytes& m) { m[offset] ^= 0xFF; };
}

const Broken kBroken[] = {
    {"oneByteLonger", [](Bytes& m) { m.push_back(0); }, ReplyFault::Length, ReplyFault::Length},
    {"oneByteShorter", [](Bytes& m) { m.pop_back(); }, ReplyFault::Length, ReplyFault::Length},
    {"empty", [](Bytes& m) { m.clear(); }, ReplyFault::Length, ReplyFault::Length},
    {"opStillRequest", [](Bytes& m) { m[0] = 1; }, ReplyFault::Op, ReplyFault::Op},
    {"xidFirstByte", flip(4), ReplyFault::Xid, ReplyFault::Xid},
    {"xidLastByte", flip(7), ReplyFault::Xid, ReplyFault::Xid},
    {"chaddrMac", flip(33), ReplyFault::Chaddr, ReplyFault::Chaddr},
    {"chaddrBeyondMac", flip(43), ReplyFault::Chaddr, ReplyFault::Chaddr},
    {"maskCode", flip(246), ReplyFault::MaskOption, ReplyFault::MaskOption},
    {"maskLength", flip(247), ReplyFault::MaskOption, ReplyFault::MaskOption},
    {"routerCode", flip(252), ReplyFault::RouterOption, ReplyFault::RouterOption},
    {"routerLength", flip(253), ReplyFault::RouterOption, ReplyFault::RouterOption},
    {"endOption", flip(258), ReplyFault::EndOption, ReplyFault::EndOption},
    {"noAddress", [](Bytes& m) { std::fill_n(m.begin() + 16, 4, 0); }, ReplyFault::Address,
     ReplyFault::Address},
    // Values the server chooses may be anything.
    {"otherMaskValue", flip(250), ReplyFault::None, ReplyFault::None},
    {"otherServer", flip(20), ReplyFault::None, ReplyFault::None},
    // Bytes the server should keep: only the strict check looks at them.
    {"templateByte", flip(240), ReplyFault::None, ReplyFault::Changed},
    {"flags", flip(10), ReplyFault::None, ReplyFault::Changed},
    {"giaddr", flip(27), ReplyFault::None, ReplyFault::Changed},
    {"paddingAfterOptions", flip(259), ReplyFault::None, ReplyFault::Changed},
    {"lastByte", flip(547), ReplyFault::None, ReplyFault::Changed},
};

INSTANTIATE_TEST_SUITE_P(Fields, BrokenReplyTest, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardSimTest, floodDatagramIsNeverACardRequest)
{
    std::mt19937_64 rng(7);
    Bytes m = buildDiscover(kXid, kMac, 300);
    EXPECT_EQ(m.size(), 300u);
    EXPECT_EQ(m[bootp::kOptions + 4], bootp::kOptMessageType);
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(behaviour::chkRequest(m));
        const Mac mac = localMac(rng());
        restamp(m, static_cast<std::uint32_t>(i), mac);
        EXPECT_EQ(xidOf(m), static_cast<std::uint32_t>(i));
        EXPECT_TRUE(std::equal(mac.begin(), mac.end(), m.begin() + bootp::kChaddr));
        EXPECT_TRUE(std::equal(mac.begin(), mac.end(), m.begin() + bootp::kOptions + 10));
    }
}

// A reply as a general server writes it: its own options after the cookie, in its own order.
Bytes generalReply(const Bytes& request, std::initializer_list<std::uint8_t> options,
                   std::size_t length = 0)
{
    Bytes reply = request;
    reply.resize(length == 0 ? request.size() : length, 0);
    reply[bootp::kOp] = bootp::kBootReply;
    const std::uint8_t yiaddr[] = {10, 77, 0, 101};
    std::copy(std::begin(yiaddr), std::end(yiaddr), reply.begin() + bootp::kYiaddr);
    std::fill(reply.begin() + bootp::kOptions + 4, reply.end(), 0);
    std::copy(options.begin(), options.end(), reply.begin() + bootp::kOptions + 4);
    return reply;
}

TEST_F(CardSimTest, anyLayoutTakesOptionsWhereverTheyStand)
{
    const Bytes request = buildCardRequest(kXid, kMac, 300);
    const auto dnsmasqLike = generalReply(request, {
                                                       28,  4, 10,  77,  0,   255, // broadcast
                                                       3,   4, 10,  77,  0,   254, // router
                                                       1,   4, 255, 255, 255, 0,   // mask
                                                       255,
                                                   });
    EXPECT_EQ(checkReply(request, dnsmasqLike).fault, ReplyFault::MaskOption);
    const ReplyCheck taken = checkReplyAnyLayout(request, dnsmasqLike);
    ASSERT_TRUE(taken.ok()) << taken.message;
    EXPECT_FALSE(taken.cardLayout);
    EXPECT_EQ(taken.layoutFault, ReplyFault::MaskOption);
    EXPECT_NE(taken.layoutMessage.find("offset 246"), std::string::npos);
    EXPECT_EQ(dotted(taken.assignment.address), "10.77.0.101");
    EXPECT_EQ(dotted(taken.assignment.mask), "255.255.255.0");
    EXPECT_EQ(dotted(taken.assignment.gateway), "10.77.0.254");

    // Padding, two routers (the first counts), and a reply longer than the request.
    const auto keaLike = generalReply(request,
                                      {
                                          0,   0,                                     // pad
                                          1,   4, 255, 255, 0,   0,                   // mask
                                          3,   8, 10,  77,  0,   253, 10, 77, 0, 254, // routers
                                          61,  4, 'k', 'a', 'v', 'o',                 // echo
                                          255,
                                      },
                                      548);
    const ReplyCheck kea = checkReplyAnyLayout(request, keaLike);
    ASSERT_TRUE(kea.ok()) << kea.message;
    EXPECT_EQ(dotted(kea.assignment.mask), "255.255.0.0");
    EXPECT_EQ(dotted(kea.assignment.gateway), "10.77.0.253");

    // The card's own layout stays the card's.
    const ReplyCheck own = checkReplyAnyLayout(request, replyTo(request));
    EXPECT_TRUE(own.ok());
    EXPECT_TRUE(own.cardLayout);
}

TEST_F(CardSimTest, anyLayoutStillRefusesWhatNoClientTakes)
{
    const Bytes request = buildCardRequest(kXid, kMac, 300);
    const std::initializer_list<std::uint8_t> good = {1, 4,  255, 255, 255, 0,  3,
                                                      4, 10, 77,  0,   1,   255};
    struct Case {
        const char* name;
        Bytes reply;
        ReplyFault fault;
    };
    std::vector<Case> cases = {
        {"no router", generalReply(request, {1, 4, 255, 255, 255, 0, 255}), ReplyFault::MaskOption},
        {"router of length 2", generalReply(request, {1, 4, 255, 255, 255, 0, 3, 2, 10, 77}),
         ReplyFault::MaskOption},
        {"mask of length 3", generalReply(request, {1, 3, 255, 255, 255, 3, 4, 10, 77, 0, 1, 255}),
         ReplyFault::MaskOption},
        {"too short for a cookie", Bytes(request.begin(), request.begin() + 239),
         ReplyFault::Length},
    };
    Bytes noAddress = generalReply(request, good);
    std::fill_n(noAddress.begin() + bootp::kYiaddr, 4, 0);
    cases.push_back({"no address", noAddress, ReplyFault::Address});
    Bytes otherClient = generalReply(request, good, 548);
    otherClient[bootp::kChaddr + 5] ^= 1;
    cases.push_back({"another chaddr", otherClient, ReplyFault::Length});
    Bytes noCookie = generalReply(request, good);
    noCookie[bootp::kOptions] = 0;
    cases.push_back({"no cookie", noCookie, ReplyFault::MaskOption});
    Bytes stillRequest = generalReply(request, good, 400);
    stillRequest[bootp::kOp] = bootp::kBootRequest;
    cases.push_back({"op 1", stillRequest, ReplyFault::Length});
    // The last byte of an option list that runs past the datagram must not be read.
    Bytes overrun = generalReply(request, good);
    overrun.back() = 1;
    overrun[overrun.size() - 2] = 0;
    std::fill(overrun.begin() + bootp::kOptions + 4, overrun.end() - 1, 0);
    cases.push_back({"option at the very end", overrun, ReplyFault::MaskOption});
    for (const Case& c : cases) {
        const ReplyCheck check = checkReplyAnyLayout(request, c.reply);
        EXPECT_EQ(check.fault, c.fault) << c.name << ": " << check.message;
    }
}

TEST(CardSimMac, macBasePlusIndexKeepsTheFirstByte)
{
    const Mac base{0x02, 0x00, 0x00, 0x00, 0x10, 0xFE};
    EXPECT_EQ(macPlus(base, 0), base);
    EXPECT_EQ(macPlus(base, 3), (Mac{0x02, 0x00, 0x00, 0x00, 0x11, 0x01})); // carries over
    EXPECT_EQ(macPlus({0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1), std::nullopt);
    EXPECT_EQ(macPlus({0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 1),
              (Mac{0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(macPlus({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1), std::nullopt); // no wrap to 0
}

TEST(CardSimMac, floodRepliesAreKnownByXidAndChaddr)
{
    constexpr std::uint64_t kKey = 0x1234;
    std::set<Mac> seen;
    for (std::uint32_t xid = 0; xid < 1000; ++xid) {
        const Mac mac = floodMac(xid, kKey);
        EXPECT_EQ(mac[0] & 0x03, 0x02);
        seen.insert(mac);
        Bytes reply = buildDiscover(xid, mac, 300);
        EXPECT_FALSE(answersFlood(reply, kKey)) << "a request is no reply";
        reply[bootp::kOp] = bootp::kBootReply;
        EXPECT_TRUE(answersFlood(reply, kKey));
        EXPECT_FALSE(answersFlood(reply, kKey + 1)) << "another run's client";
        restamp(reply, xid + 1, mac);
        EXPECT_FALSE(answersFlood(reply, kKey)) << "another xid";
    }
    EXPECT_EQ(seen.size(), 1000u);
    Bytes card = buildCardRequest(kXid, kMac, 300);
    card[bootp::kOp] = bootp::kBootReply;
    EXPECT_FALSE(answersFlood(card, kKey));
    EXPECT_FALSE(answersFlood(std::span(card).first(33), kKey));
}

TEST(CardSimStats, nearestRankPercentile)
{
    EXPECT_EQ(percentile({}, 0.5), 0);
    EXPECT_EQ(percentile({7}, 0.99), 7);
    EXPECT_EQ(percentile({4, 1, 3, 2}, 0.5), 2);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(i);
    }
    EXPECT_EQ(percentile(hundred, 0.5), 50);
    EXPECT_EQ(percentile(hundred, 0.99), 99);
    EXPECT_EQ(percentile(hundred, 1.0), 100);
    hundred.push_back(1000);
    EXPECT_EQ(percentile(hundred, 0.99), 100); // one outlier in 101 stays above p99
}

TEST(CardSimMac, randomMacsAreLocalUnicastAndNeverZero)
{
    std::mt19937_64 rng(1);
    for (std::uint64_t bits : {std::uint64_t{0}, ~std::uint64_t{0}, rng(), rng(), rng()}) {
        const Mac mac = localMac(bits);
        EXPECT_EQ(mac[0] & 0x03, 0x02) << formatMac(mac);
        EXPECT_NE(mac, Mac{}) << formatMac(mac);
    }
}

TEST(CardSimMac, parsesBothSeparatorsAndRefusesTheRest)
{
    EXPECT_EQ(parseMac("00-0A-1b-C2-3d-FF"), (Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}));
    EXPECT_EQ(parseMac("00:0a:1b:c2:3d:ff"), (Mac{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}));
    EXPECT_EQ(formatMac(*parseMac("00:0a:1b:c2:3d:ff")), "00-0A-1B-C2-3D-FF");
    for (const char* bad : {"", "00-0A-1B-C2-3D", "00-0A-1B-C2-3D-FF-", "00-0A:1B-C2-3D-FF",
                            "00-0A-1B-C2-3D-FG", "000A1BC23DFF00000", "0x-0A-1B-C2-3D-FF"}) {
        EXPECT_FALSE(parseMac(bad)) << bad;
    }
}

TEST(CardSimMask, prefixLengthOnlyForContiguousMasks)
{
    EXPECT_EQ(prefixLength({255, 255, 255, 0}), 24);
    EXPECT_EQ(prefixLength({255, 255, 255, 255}), 32);
    EXPECT_EQ(prefixLength({0, 0, 0, 0}), 0);
    EXPECT_EQ(prefixLength({255, 255, 254, 0}), 23);
    EXPECT_EQ(prefixLength({255, 0, 255, 0}), std::nullopt);
    EXPECT_EQ(prefixLength({0, 255, 255, 255}), std::nullopt);
    EXPECT_EQ(prefixLength({255, 255, 255, 1}), std::nullopt);
}

TEST(CardSimPacer, spreadsTheDatagramsEvenlyAndCatchesUp)
{
    using std::chrono::milliseconds;
    Pacer pacer(1000, std::chrono::seconds(1));
    EXPECT_EQ(pacer.total(), 1000u);
    EXPECT_EQ(pacer.due(milliseconds(0)), 1u);
    pacer.markSent(1);
    EXPECT_EQ(pacer.due(std::chrono::microseconds(999)), 0u);
    EXPECT_EQ(pacer.nextDue(), milliseconds(1) + std::chrono::nanoseconds(1));
    EXPECT_EQ(pacer.due(pacer.nextDue()), 1u);
    EXPECT_EQ(pacer.due(milliseconds(250)), 250u); // a sender that slept catches up at once
    pacer.markSent(250);
    EXPECT_EQ(pacer.due(milliseconds(250)), 0u);
    EXPECT_EQ(pacer.due(std::chrono::seconds(5)), 749u); // never more than the run holds
    pacer.markSent(749);
    EXPECT_TRUE(pacer.done());

    EXPECT_EQ(Pacer(2.5, std::chrono::seconds(2)).total(), 5u);
    EXPECT_EQ(Pacer(100000, milliseconds(10)).total(), 1000u);
}

struct Args {
    std::vector<std::string_view> args;
    const char* error; // part of the error text; nullptr when valid
};

void PrintTo(const Args& a, std::ostream* os)
{
    for (auto arg : a.args) {
        *os << arg << ' ';
    }
}

class ArgsTest : public ::testing::TestWithParam<Args> {};

TEST_P(ArgsTest, acceptsOrExplains)
{
    const Parsed parsed = parseArgs(GetParam().args);
    if (GetParam().error == nullptr) {
        EXPECT_EQ(parsed.error, "");
    } else {
        EXPECT_NE(parsed.error.find(GetParam().error), std::string::npos) << parsed.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgsTest,
    ::testing::Values(
        Args{{"--interface", "eth1"}, nullptr},
        Args{{"--interface=eth1", "--interval=0.5", "--timeout", "3"}, nullptr},
        Args{{"--interface", "eth1", "--length", "300", "--mac", "00:0a:1b:c2:3d:ff"}, nullptr},
        Args{{"--interface", "eth1", "--flood", "500", "--then-card", "--serve-http"}, nullptr},
        Args{{}, "--interface is required"}, Args{{"--interface"}, "needs a value"},
        Args{{"--interface", "a-name-far-too-long"}, "1 to 15"},
        Args{{"--interface", "eth1", "--length", "299"}, "300 to 1472"},
        Args{{"--interface", "eth1", "--length", "30x"}, "300 to 1472"},
        Args{{"--interface", "eth1", "--interval", "0"}, "0.01 to 3600"},
        Args{{"--interface", "eth1", "--timeout", "-1"}, "0.1 to 86400"},
        Args{{"--interface", "eth1", "--timeout", "nan"}, "0.1 to 86400"},
        // Bounded so that no deadline overflows the clock and no repeat loop floods.
        Args{{"--interface", "eth1", "--timeout", "1e300"}, "--timeout must be 0.1 to 86400"},
        Args{{"--interface", "eth1", "--timeout", "86400", "--interval", "3600"}, nullptr},
        Args{{"--interface", "eth1", "--interval", "1e-300"}, "--interval must be 0.01 to 3600"},
        Args{{"--interface", "eth1", "--interval", "0.01", "--timeout", "0.1"}, nullptr},
        Args{{"--interface", "eth1", "--interval", "3601"}, "0.01 to 3600"},
        Args{{"--interface", "eth1", "--serve-http", "--serve-seconds", "1e19"},
             "--serve-seconds must be 0.1 to 86400"},
        Args{{"--interface", "eth1", "--flood", "10", "--duration", "1e-9"},
             "--duration must be 0.1 to 86400"},
        Args{{"--interface", "eth1", "--flood", "1e-300"}, "1 to 1000000 datagrams/s"},
        Args{{"--interface", "eth1", "--flood", "1000001"}, "1 to 1000000 datagrams/s"},
        Args{{"--interface", "eth1", "--flood", "1", "--duration", "86400"}, nullptr},
        Args{{"--interface", "eth1", "--mac", "00-0A-1B"}, "six hex pairs"},
        Args{{"--interface", "eth1", "--count", "0"}, "at least 1"},
        Args{{"--interface", "eth1", "--http-port", "65536"}, "1 to 65535"},
        Args{{"--interface", "eth1", "--format", "xml"}, "text, kv or json"},
        Args{{"--interface", "eth1", "--serve-http", "--count", "2"}, "one card"},
        Args{{"--interface", "eth1", "--then-card"}, "only goes with --flood"},
        Args{{"--interface", "eth1", "--flood-cards"}, "--flood-cards only goes with --flood"},
        Args{{"--interface", "eth1", "--flood", "10", "--flood-cards"}, nullptr},
        Args{{"--interface", "eth1", "--flood", "10", "--serve-http"}, "--then-card"},
        Args{{"--interface", "eth1", "--cards", "5", "--mac-base", "02-00-00-00-10-00", "--spread",
              "1", "--serve-http", "--any-layout"},
             nullptr},
        Args{{"--interface", "eth1", "--count", "3", "--mac-base", "02:00:00:00:10:00"}, nullptr},
        Args{{"--interface", "eth1", "--flood", "50000", "--then-card", "--cards", "100"}, nullptr},
        Args{{"--interface", "eth1", "--cards", "0"}, "1 to 250"},
        Args{{"--interface", "eth1", "--cards", "251"}, "1 to 250"},
        Args{{"--interface", "eth1", "--cards", "2", "--count", "2"}, "exclude each other"},
        Args{{"--interface", "eth1", "--cards", "2", "--mac", "02-00-00-00-10-00"}, "leave it out"},
        Args{{"--interface", "eth1", "--mac-base", "02-00-00-00-10-00"}, "goes with --cards"},
        Args{{"--interface", "eth1", "--cards", "2", "--mac-base", "03-00-00-00-10-00"}, "unicast"},
        Args{{"--interface", "eth1", "--cards", "3", "--mac-base", "02-FF-FF-FF-FF-FE"},
             "leaves no room for 3 cards"},
        Args{{"--interface", "eth1", "--count", "2", "--mac-base", "02-FF-FF-FF-FF-FF"},
             "leaves no room for 2 cards"},
        Args{{"--interface", "eth1", "--spread", "1"}, "--spread goes with --cards"},
        Args{{"--interface", "eth1", "--cards", "2", "--spread", "-1"}, "0 to 3600"},
        Args{{"--interface", "eth1", "--flood", "10", "--cards", "2"}, "--then-card"},
        Args{{"--interface", "eth1", "--serve-http", "--https", "--http-basic", "admin:a:b"},
             nullptr},
        Args{{"--interface", "eth1", "--https"}, "go with --serve-http"},
        Args{{"--interface", "eth1", "--http-basic", "a:b"}, "go with --serve-http"},
        Args{{"--interface", "eth1", "--cards", "2", "--serve-http", "--https"}, "for one card"},
        Args{{"--interface", "eth1", "--serve-http", "--http-basic", ":pw"}, "USER:PASSWORD"},
        Args{{"--interface", "eth1", "--serve-http", "--http-basic", "admin"}, "USER:PASSWORD"},
        Args{{"--interface", "eth1", "--strict=yes"}, "unknown option"},
        Args{{"--interface", "eth1", "extra"}, "unknown option extra"}));

TEST(CardSimArgs, helpNeedsNothingElse)
{
    EXPECT_TRUE(parseArgs({"--help"}).options.help);
    EXPECT_EQ(parseArgs({"-h"}).error, "");
}

struct Http {
    const char* head;
    int status;
    bool hasTitle;
};

TEST(CardSimHttp, answersThePageAndRefusesTheRest)
{
    const std::string page = cardPage(kMac, {{10, 77, 0, 20}, {255, 255, 255, 0}, {}, {}});
    const Http cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 200, true},
        {"GET /index.html?x=1 HTTP/1.0\r\n\r\n", 200, true},
        {"HEAD / HTTP/1.1\r\n\r\n", 200, false},
        {"GET /favicon.ico HTTP/1.1\r\n\r\n", 404, false},
        {"GET /../etc/passwd HTTP/1.1\r\n\r\n", 404, false},
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405, false},
        {"GET /\r\n\r\n", 400, false},
        {"\x16\x03\x01 binary", 400, false},
    };
    for (const Http& c : cases) {
        const HttpAnswer a = answerHttp(c.head, page);
        EXPECT_EQ(a.status, c.status) << c.head;
        EXPECT_TRUE(a.bytes.starts_with("HTTP/1.0 " + std::to_string(c.status) + " ")) << c.head;
        EXPECT_EQ(a.bytes.find("<title>Web/SNMP Card 02-0A-1B-C2-3D-FF</title>") !=
                      std::string::npos,
                  c.hasTitle)
            << c.head;
    }
}

TEST(CardSimHttp, cardPagesBehindALoginAsFirmwareServesThem)
{
    const HttpSite site{"<title>card</title>", "admin:pa:ss", {}};
    const std::string login = "Authorization: Basic " + base64("admin:pa:ss") + "\r\n";
    struct Case {
        std::string head;
        std::string body;
        int status;
        const char* contains;
    };
    const std::string upload = "--b\r\nContent-Disposition: form-data; name=\"firmware\"; "
                               "filename=\"<fw>.bin\"\r\n\r\nABC\r\n--b--\r\n";
    const Case cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "", 401, "WWW-Authenticate: Basic realm=\"Web/SNMP Card\""},
        {"GET / HTTP/1.1\r\nAuthorization: Basic " + base64("admin:wrong") + "\r\n\r\n", "", 401,
         "<title>401 Unauthorized</title>"},
        {"GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n", "", 401, "401"},
        {"GET / HTTP/1.1\r\n" + login + "\r\n", "", 200, "<title>card</title>"},
        {"GET /config.txt HTTP/1.1\r\n" + login + "\r\n", "", 200,
         "Content-Disposition: attachment; filename=\"card-config.txt\""},
        {"GET /upload HTTP/1.1\r\n" + login + "\r\n", "", 200, "<input type=\"file\""},
        {"POST /upload HTTP/1.1\r\n" + login +
             "Content-Type: multipart/form-data; boundary=b\r\n\r\n",
         upload, 200, "&lt;fw&gt;.bin 3 bytes fnv1a64 "},
        {"POST /upload HTTP/1.1\r\n" + login + "Content-Type: text/plain\r\n\r\n", "x", 400, "400"},
        {"POST / HTTP/1.1\r\n" + login + "\r\n", "", 405, "Allow: GET, HEAD\r\n"},
        {"GET /about HTTP/1.1\r\n" + login + "\r\n", "", 200, "<title>About this card</title>"},
        {"GET /popup HTTP/1.1\r\n" + login + "\r\n", "", 200, "<title>Card status</title>"},
    };
    for (const Case& c : cases) {
        const HttpAnswer a = answerHttp(c.head, c.body, site);
        EXPECT_EQ(a.status, c.status) << c.head;
        EXPECT_NE(a.bytes.find(c.contains), std::string::npos) << c.head << a.bytes;
    }
    // The start page links to each of them.
    const std::string page = cardPage(kMac, {{10, 77, 0, 20}, {255, 255, 255, 0}, {}, {}});
    for (const char* link :
         {"href=\"/config.txt\"", "href=\"/upload\"", "href=\"/about\" target=\"_blank\"",
          "window.open('/about')", "window.open('/popup'"}) {
        EXPECT_NE(page.find(link), std::string::npos) << link;
    }
}

TEST(CardSimHttp, base64AndContentLength)
{
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("admin:secret"), "YWRtaW46c2VjcmV0");
    EXPECT_EQ(contentLength("POST / HTTP/1.1\r\ncontent-length: 12\r\n"), 12u);
    EXPECT_EQ(contentLength("GET / HTTP/1.1\r\n"), 0u);
    EXPECT_EQ(contentLength("POST / HTTP/1.1\r\nContent-Length: 1x\r\n"), std::nullopt);
}

TEST(CardSimOutput, oneLinePerFormatWithTheSameKeys)
{
    const Record r =
        assignedRecord({{10, 77, 0, 20}, {255, 255, 255, 0}, {10, 77, 0, 254}, {10, 77, 0, 1}},
                       kMac, 0xAB, 300, 2, 0.5);
    EXPECT_EQ(formatRecord(r, Format::Kv),
              "event=assigned mac=02-0A-1B-C2-3D-FF address=10.77.0.20 mask=255.255.255.0 "
              "gateway=10.77.0.254 server=10.77.0.1 xid=0x000000ab length=300 requests=2 "
              "seconds=0.500");
    EXPECT_EQ(formatRecord(r, Format::Json),
              "{\"event\":\"assigned\",\"mac\":\"02-0A-1B-C2-3D-FF\",\"address\":\"10.77.0.20\","
              "\"mask\":\"255.255.255.0\",\"gateway\":\"10.77.0.254\",\"server\":\"10.77.0.1\","
              "\"xid\":\"0x000000ab\",\"length\":300,\"requests\":2,\"seconds\":0.500}");
    EXPECT_EQ(formatRecord(r, Format::Text),
              "card 02-0A-1B-C2-3D-FF was assigned address 10.77.0.20 mask 255.255.255.0 gateway "
              "10.77.0.254 by server 10.77.0.1 (2 requests, 0.500 s)");
}

TEST(CardSimOutput, printableKeepsPlainTextAndEscapesTheRest)
{
    EXPECT_EQ(printable("/index.html?a=1&b=%20"), "/index.html?a=1&b=%20");
    EXPECT_EQ(printable("/\x1b[2J\x1b]0;title\a"), "/\\x1b[2J\\x1b]0;title\\x07");
    EXPECT_EQ(printable(std::string("a\0b\r\n\x7f", 6)), "a\\x00b\\x0d\\x0a\\x7f");
    EXPECT_EQ(printable("caf\xc3\xa9"), "caf\\xc3\\xa9");
    // A backslash is doubled, so an escape written by the client reads differently.
    EXPECT_EQ(printable("\\x1b"), "\\\\x1b");
}

} // namespace
