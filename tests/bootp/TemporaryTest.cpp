#include "Temporary.h"

#include <gtest/gtest.h>

using namespace bootp;

namespace {

Ipv4 ip(const char* text)
{
    return parseIp(text).value();
}

CardSettings card(const char* address, const char* mask, const char* gateway = "0.0.0.0")
{
    return {ip(address), ip(mask), ip(gateway)};
}

TEST(Temporary, HighestFreeHostOfTheCardsSubnet)
{
    const HostFacts none;
    EXPECT_EQ(nextTemporary(card("192.168.0.20", "255.255.255.0"), none), ip("192.168.0.254"));
    // The gateway and the card themselves are passed over, downwards.
    EXPECT_EQ(nextTemporary(card("192.168.0.254", "255.255.255.0", "192.168.0.253"), none),
              ip("192.168.0.252"));
    EXPECT_EQ(nextTemporary(card("10.1.2.3", "255.0.0.0"), none), ip("10.255.255.254"));
    // A /30 has two hosts; a /31 two without edges; a /32 none left beside the card.
    EXPECT_EQ(nextTemporary(card("192.0.2.1", "255.255.255.252"), none), ip("192.0.2.2"));
    EXPECT_EQ(nextTemporary(card("192.0.2.2", "255.255.255.252"), none), ip("192.0.2.1"));
    EXPECT_EQ(nextTemporary(card("192.0.2.2", "255.255.255.252", "192.0.2.1"), none), std::nullopt);
    EXPECT_EQ(nextTemporary(card("192.0.2.8", "255.255.255.254"), none), ip("192.0.2.9"));
    EXPECT_EQ(nextTemporary(card("192.0.2.9", "255.255.255.254"), none), ip("192.0.2.8"));
    EXPECT_EQ(nextTemporary(card("192.0.2.9", "255.255.255.255"), none), std::nullopt);
    // Settings the card rules refuse have no temporary address.
    EXPECT_EQ(nextTemporary(card("192.168.0.0", "255.255.255.0"), none), std::nullopt);
    EXPECT_EQ(nextTemporary(card("192.168.0.20", "255.0.255.0"), none), std::nullopt);
}

TEST(Temporary, NeverAnAddressOfThisPc)
{
    HostFacts host;
    // The link-local address of the arrival interface and another NIC's address in the
    // card's subnet, plus a route's gateway there.
    host.addresses = {{ip("169.254.23.7"), 16, 2}, {ip("192.168.0.254"), 32, 3}};
    host.gateways = {ip("192.168.0.253")};
    EXPECT_EQ(nextTemporary(card("192.168.0.20", "255.255.255.0"), host), ip("192.168.0.252"));
    EXPECT_EQ(temporaryProblem(ip("192.168.0.254"), card("192.168.0.20", "255.255.255.0"), host),
              TemporaryProblem::ThisPc);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.253"), card("192.168.0.20", "255.255.255.0"), host),
              TemporaryProblem::ThisPc);
}

TEST(Temporary, NextCandidateAfterAnAnsweredProbe)
{
    const HostFacts none;
    const CardSettings c = card("192.168.0.20", "255.255.255.0", "192.168.0.1");
    EXPECT_EQ(nextTemporary(c, none, ip("192.168.0.254")), ip("192.168.0.253"));
    EXPECT_EQ(nextTemporary(c, none, ip("192.168.0.21")), ip("192.168.0.19"));
    EXPECT_EQ(nextTemporary(c, none, ip("192.168.0.3")), ip("192.168.0.2"));
    EXPECT_EQ(nextTemporary(c, none, ip("192.168.0.2")), std::nullopt);
    EXPECT_EQ(nextTemporary(c, none, ip("192.168.1.9")), std::nullopt);
    // Every candidate handed out passes the check the helper makes again.
    std::optional<Ipv4> t;
    int count = 0;
    while ((t = nextTemporary(c, none, t))) {
        EXPECT_EQ(temporaryProblem(*t, c, none), std::nullopt) << ipText(*t);
        ++count;
    }
    EXPECT_EQ(count, 254 - 2);
}

TEST(Temporary, CheckRefusesEveryUnfitAddress)
{
    const HostFacts none;
    const CardSettings c = card("192.168.0.20", "255.255.255.0", "192.168.0.1");
    EXPECT_EQ(temporaryProblem(ip("192.168.1.254"), c, none), TemporaryProblem::OutsideSubnet);
    EXPECT_EQ(temporaryProblem(ip("10.0.0.1"), c, none), TemporaryProblem::OutsideSubnet);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.0"), c, none), TemporaryProblem::NotHost);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.255"), c, none), TemporaryProblem::NotHost);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.20"), c, none), TemporaryProblem::CardsAddress);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.1"), c, none), TemporaryProblem::CardsGateway);
    EXPECT_EQ(temporaryProblem(ip("192.168.0.200"), c, none), std::nullopt);
}

} // namespace
