#include "Rules.h"
#include "Card.h"
#include "CardRequest.h"

#include <gtest/gtest.h>

using namespace bootp;
using testing_support::cardRequest;

namespace {

Ipv4 ip(const char* text)
{
    return parseIp(text).value();
}

TEST(AddressText, MacInEveryFormOperatorsPaste)
{
    const Mac expected{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
    for (const char* text : {"00:0a:1b:c2:3d:ff", "00-0A-1B-C2-3D-FF", "000a.1bc2.3dff",
                             "000A1BC23DFF", "00:0A:1b:C2:3d:Ff"}) {
        EXPECT_EQ(parseMac(text), expected) << text;
    }
    EXPECT_EQ(macText(expected), "00-0A-1B-C2-3D-FF");
    for (const char* text : {"", "00:0a:1b:c2:3d", "00:0a-1b:c2:3d:ff", "00:0a:1b:c2:3d:fg",
                             "000a.1bc2:3dff", "000a1bc23dff0", "0:0a:1b:c2:3d:ff0",
                             " 00:0a:1b:c2:3d:ff", "000a1bc23dfg", "000a-1bc2-3dff"}) {
        EXPECT_FALSE(parseMac(text)) << text;
    }
    EXPECT_FALSE(isCardMac(*parseMac("01:00:5e:00:00:01")));
    EXPECT_FALSE(isCardMac(*parseMac("ff:ff:ff:ff:ff:ff")));
    EXPECT_FALSE(isCardMac(*parseMac("000000000000")));
    EXPECT_TRUE(isCardMac(expected));
}

TEST(AddressText, DottedQuadIsStrict)
{
    EXPECT_EQ(ipText(ip("192.168.0.20")), "192.168.0.20");
    EXPECT_EQ(toValue(ip("10.0.0.1")), 0x0A000001u);
    EXPECT_EQ(fromValue(0x0A000001u), ip("10.0.0.1"));
    TextProblem why{};
    EXPECT_FALSE(parseIp("10.0.0.010", &why));
    EXPECT_EQ(why, TextProblem::LeadingZero);
    EXPECT_FALSE(parseIp("10.0.0.256", &why));
    EXPECT_EQ(why, TextProblem::Range);
    for (const char* text : {"", "10.0.0", "10.0.0.1.", "10..0.1", " 10.0.0.1", "10.0.0.1 ",
                             "10.0.0.1234", "a.b.c.d", "10.0.0.-1"}) {
        EXPECT_FALSE(parseIp(text, &why)) << text;
        EXPECT_EQ(why, TextProblem::Shape) << text;
    }
}

struct SettingsCase {
    const char* address;
    const char* mask;
    const char* gateway;
    std::optional<SettingsProblem> expected;
};

class Settings : public testing::TestWithParam<SettingsCase> {};

TEST_P(Settings, FollowTheCardRules)
{
    const SettingsCase& c = GetParam();
    EXPECT_EQ(checkSettings(ip(c.address), ip(c.mask), ip(c.gateway)), c.expected)
        << c.address << " " << c.mask << " " << c.gateway;
}

using F = SettingsProblem::Field;
using K = SettingsProblem::Kind;
using A = AddressProblem;

INSTANTIATE_TEST_SUITE_P(
    Table, Settings,
    testing::Values(
        SettingsCase{"10.99.0.20", "255.255.255.0", "10.99.0.1", std::nullopt},
        SettingsCase{"10.99.0.20", "255.255.255.0", "0.0.0.0", std::nullopt},    // no gateway
        SettingsCase{"10.99.0.0", "255.255.255.254", "10.99.0.1", std::nullopt}, // RFC 3021
        SettingsCase{"10.99.0.20", "255.0.255.0", "0.0.0.0",
                     SettingsProblem{F::Mask, K::MaskHoles}},
        SettingsCase{"10.99.0.20", "0.0.0.0", "0.0.0.0", SettingsProblem{F::Mask, K::MaskZero}},
        SettingsCase{"0.1.2.3", "255.0.0.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::ThisNetwork}},
        SettingsCase{"127.0.0.2", "255.0.0.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::Loopback}},
        SettingsCase{"224.0.0.5", "255.255.255.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::Multicast}},
        SettingsCase{"255.255.255.255", "255.255.255.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::Reserved}},
        SettingsCase{"10.99.0.0", "255.255.255.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::NetworkAddress}},
        SettingsCase{"10.99.0.255", "255.255.255.0", "0.0.0.0",
                     SettingsProblem{F::Address, K::Unfit, A::BroadcastAddress}},
        // The gateway passes the same address tests as the card's own address.
        SettingsCase{"10.99.0.20", "255.255.255.0", "10.99.0.0",
                     SettingsProblem{F::Gateway, K::Unfit, A::NetworkAddress}},
        SettingsCase{"10.99.0.20", "255.255.255.0", "10.99.0.255",
                     SettingsProblem{F::Gateway, K::Unfit, A::BroadcastAddress}},
        SettingsCase{"10.99.0.20", "128.0.0.0", "127.0.0.1",
                     SettingsProblem{F::Gateway, K::Unfit, A::Loopback}},
        SettingsCase{"10.99.0.20", "255.255.255.0", "10.98.0.1",
                     SettingsProblem{F::Gateway, K::OutsideSubnet}},
        SettingsCase{"10.99.0.20", "255.255.255.0", "10.99.0.20",
                     SettingsProblem{F::Gateway, K::CardsAddress}}));

TEST(Mask, PrefixLengthsBothWays)
{
    EXPECT_EQ(prefixMask(0), 0u);
    EXPECT_EQ(prefixMask(1), 0x80000000u);
    EXPECT_EQ(prefixMask(24), 0xFFFFFF00u);
    EXPECT_EQ(prefixMask(31), 0xFFFFFFFEu);
    EXPECT_EQ(prefixMask(32), 0xFFFFFFFFu);
    for (int prefix = 0; prefix <= 32; ++prefix) {
        EXPECT_EQ(maskPrefix(fromValue(prefixMask(prefix))), prefix);
    }
    EXPECT_EQ(maskPrefix(ip("255.0.255.0")), std::nullopt);
}

TEST(Host, AddressesThatWouldClashWithThisPc)
{
    HostFacts host;
    host.addresses = {{ip("10.77.0.1"), 24, 2}, {ip("192.0.2.9"), 31, 3}};
    host.gateways = {ip("10.77.0.254"), ip("198.51.100.1")};
    EXPECT_EQ(clashWithHost(ip("10.77.0.1"), host), HostClash::LocalAddress);
    EXPECT_EQ(clashWithHost(ip("10.77.0.0"), host), HostClash::SubnetEdge);
    EXPECT_EQ(clashWithHost(ip("10.77.0.255"), host), HostClash::SubnetEdge);
    EXPECT_EQ(clashWithHost(ip("10.77.0.254"), host), HostClash::Gateway);
    EXPECT_EQ(clashWithHost(ip("198.51.100.1"), host), HostClash::Gateway);
    EXPECT_EQ(clashWithHost(ip("192.0.2.8"), host), std::nullopt); // a /31 has no edges
    EXPECT_EQ(clashWithHost(ip("10.78.0.0"), host), std::nullopt); // not a subnet of this PC
    EXPECT_EQ(clashWithHost(ip("10.77.0.20"), host), std::nullopt);
    EXPECT_TRUE(isAddressOf(ip("10.77.0.1"), 2, host));
    EXPECT_FALSE(isAddressOf(ip("10.77.0.1"), 3, host));
}

TEST(Reply, ReadBackOnlyWhenNothingElseChanged)
{
    const std::vector<std::uint8_t> request = cardRequest(548);
    const Assignment a{ip("10.77.0.20"), ip("255.255.255.0"), ip("10.77.0.254"), ip("10.77.0.1")};
    const std::vector<std::uint8_t> reply = buildReply(request, a);
    ASSERT_EQ(reply.size(), request.size());
    EXPECT_EQ(readReply(request, reply), a);
    // Every single byte changed anywhere, reply fields included, either still reads as some
    // assignment (a changed address) or is refused; never anything outside the fields.
    for (std::size_t i = 0; i < reply.size(); ++i) {
        std::vector<std::uint8_t> changed = reply;
        changed[i] ^= 0x40;
        const auto read = readReply(request, changed);
        const bool addressByte = (i >= kYiaddr && i < kGiaddr) ||
                                 (i >= kReplyOptions + 2 && i < kReplyOptions + 6) ||
                                 (i >= kReplyOptions + 8 && i < kReplyOptions + 12);
        EXPECT_EQ(read.has_value(), addressByte) << "byte " << i;
    }
    std::vector<std::uint8_t> longer = reply;
    longer.push_back(0);
    EXPECT_FALSE(readReply(request, longer));
    EXPECT_TRUE(buildReply(std::vector<std::uint8_t>(kTouchedEnd - 1), a).empty());
    EXPECT_FALSE(readReply(std::vector<std::uint8_t>(10), std::vector<std::uint8_t>(10)));
}

} // namespace
