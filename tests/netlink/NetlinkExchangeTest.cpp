// The exchange with the kernel on canned answers, as the helper and torvane_netlink both run
// it: an interrupted dump is asked again a fixed number of times, only the kernel's answer to
// this very request is taken, and silence is a time-out. Then the helper's kernel queries on
// the same answers.
#include "CannedAnswers.h"
#include "Kernel.h"

#include <gtest/gtest.h>

#include <linux/neighbour.h>

namespace {

using netlink::wire::kDumpAttempts;

Datagram interruptedDump()
{
    Datagram d;
    d.address(2, "10.77.0.1", 24, "tvpc0").done(0, NLM_F_MULTI | NLM_F_DUMP_INTR);
    return d;
}

Datagram addressDump(unsigned index, const char* ip)
{
    Datagram d;
    d.address(index, ip, 24, "tvpc0").done();
    return d;
}

int dumpAddresses(netlink::wire::Socket& socket, std::vector<netlink::Address>& out)
{
    netlink::wire::Query q(RTM_GETADDR, NLM_F_DUMP);
    q.header<ifaddrmsg>().ifa_family = AF_INET;
    return socket.dump(q.message(), out);
}

TEST(NetlinkExchange, InterruptedDumpIsAskedAgainThenRefused)
{
    CannedKernel always;
    for (int i = 0; i <= kDumpAttempts; ++i) {
        always.answer({interruptedDump()});
    }
    std::vector<netlink::Address> out;
    EXPECT_EQ(dumpAddresses(always, out), EINTR);
    EXPECT_EQ(always.requests, kDumpAttempts);
    EXPECT_TRUE(out.empty());

    // The answer is the one attempt that came whole, nothing of those before it.
    CannedKernel once;
    once.answer({interruptedDump()}).answer({addressDump(3, "10.78.0.1")});
    ASSERT_EQ(dumpAddresses(once, out), 0);
    EXPECT_EQ(once.requests, 2);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].index, 3u);
}

TEST(NetlinkExchange, OnlyTheKernelsAnswerToThisRequestIsTaken)
{
    std::vector<netlink::Address> out;
    CannedKernel foreign;
    foreign.answer({addressDump(2, "10.77.0.1")}, 1234);
    EXPECT_EQ(dumpAddresses(foreign, out), EPROTO);
    EXPECT_EQ(foreign.requests, 1);

    Datagram stale;
    stale.message(RTM_NEWADDR, NLM_F_MULTI, kSeq + 100).body(ifaddrmsg{AF_INET, 24, 0, 0, 2});
    stale.ipv4(IFA_LOCAL, "10.77.0.1").end();
    CannedKernel earlier;
    earlier.answer({stale, addressDump(2, "10.77.0.1")});
    EXPECT_EQ(dumpAddresses(earlier, out), EPROTO);

    CannedKernel silent;
    EXPECT_EQ(dumpAddresses(silent, out), ETIMEDOUT);
    EXPECT_TRUE(out.empty());

    // A refused answer's second datagram is still queued when the next request goes out; it is
    // read off, not taken for the next answer.
    Datagram refused;
    refused.address(2, "10.77.0.1", 24, "tvpc0").message(RTM_NEWLINK).end();
    CannedKernel leftover;
    leftover.answer({refused, addressDump(2, "10.77.0.2")}).answer({addressDump(4, "10.79.0.1")});
    EXPECT_EQ(dumpAddresses(leftover, out), EPROTO);
    ASSERT_EQ(dumpAddresses(leftover, out), 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].index, 4u);
}

TEST(NetlinkExchange, KernelThatNeverAnswersTimesOut)
{
    netlink::wire::Socket kernel;
    ASSERT_EQ(kernel.error(), 0) << std::strerror(kernel.error());
    // The kernel acknowledges a control message only when asked to, and a dump is not.
    netlink::wire::Query q(NLMSG_NOOP, NLM_F_DUMP);
    EXPECT_EQ(kernel.exchange(q.message(), [](const nlmsghdr*) { return 0; }), ETIMEDOUT);
}

bootp::Ipv4 ip(const char* text)
{
    return *bootp::parseIp(text);
}

TEST(HelperRouteLink, HostFactsFromEveryAddressAndRoute)
{
    auto owned = std::make_unique<CannedKernel>();
    CannedKernel& kernel = *owned;
    Datagram addresses;
    addresses.address(2, "10.77.0.1", 24, "tvpc0");
    // A point-to-point link: its own address and the peer's.
    addresses.message(RTM_NEWADDR).body(ifaddrmsg{AF_INET, 32, 0, 0, 4});
    addresses.ipv4(IFA_LOCAL, "10.9.0.1").ipv4(IFA_ADDRESS, "10.9.0.2").end().done();
    rtmsg rt{};
    rt.rtm_family = AF_INET;
    rt.rtm_table = 100;
    Datagram routes;
    routes.message(RTM_NEWROUTE).body(rt).ipv4(RTA_GATEWAY, "10.77.0.254").end();
    routes.message(RTM_NEWROUTE).body(rt).nexthops({"10.77.0.253", "10.78.0.254"}).end().done();
    kernel.answer({interruptedDump()}).answer({addresses}).answer({routes});
    helper::RouteLink link(std::move(owned));
    helper::HostFacts facts;
    ASSERT_EQ(link.hostFacts(facts), 0);
    ASSERT_EQ(facts.addresses.size(), 3u);
    EXPECT_EQ(facts.addresses[0].ip, ip("10.77.0.1"));
    EXPECT_EQ(facts.addresses[0].prefix, 24);
    EXPECT_EQ(facts.addresses[0].ifindex, 2);
    EXPECT_EQ(facts.addresses[1].ip, ip("10.9.0.1"));
    EXPECT_EQ(facts.addresses[2].ip, ip("10.9.0.2"));
    EXPECT_EQ(facts.addresses[2].ifindex, 4);
    EXPECT_EQ(facts.gateways,
              (std::vector<bootp::Ipv4>{ip("10.77.0.254"), ip("10.77.0.253"), ip("10.78.0.254")}));

    // A route dump that fails part-way leaves no facts at all.
    Datagram failed;
    failed.message(RTM_NEWROUTE).body(rt).ipv4(RTA_GATEWAY, "10.77.0.254").end().done(-ENOBUFS);
    kernel.answer({addresses}).answer({failed});
    EXPECT_EQ(link.hostFacts(facts), ENOBUFS);
    EXPECT_TRUE(facts.addresses.empty());
    EXPECT_TRUE(facts.gateways.empty());
}

// With nexthop_compat_mode off a route names its nexthop object only: the gateway is read from
// the nexthop table, a group's members' too, in every table; a route whose object cannot be
// found, or a nexthop table that cannot be read, leaves no facts at all.
TEST(HelperRouteLink, GatewaysOfNexthopObjectsOrNoFacts)
{
    auto owned = std::make_unique<CannedKernel>();
    CannedKernel& kernel = *owned;
    helper::RouteLink link(std::move(owned));
    Datagram addresses;
    addresses.address(2, "10.77.0.1", 24, "tvpc0").done();
    rtmsg rt{};
    rt.rtm_family = AF_INET;
    rt.rtm_table = RT_TABLE_MAIN;
    const auto routesThrough = [&rt](std::uint32_t single, std::uint32_t group) {
        Datagram d;
        d.message(RTM_NEWROUTE).body(rt).attribute(RTA_NH_ID, &single, sizeof single).end();
        rtmsg other = rt;
        other.rtm_table = 100;
        d.message(RTM_NEWROUTE).body(other).attribute(RTA_NH_ID, &group, sizeof group).end();
        return d.done();
    };
    Datagram table;
    table.nexthop(7, "10.77.0.70", 2).nexthop(8, "10.77.0.80", 2).nexthop(9, "10.77.0.90", 2);
    table.nexthop(10, nullptr, 0, {8, 9}).done();
    kernel.answer({addresses}).answer({routesThrough(7, 10)}).answer({table});
    helper::HostFacts facts;
    ASSERT_EQ(link.hostFacts(facts), 0);
    EXPECT_EQ(facts.gateways,
              (std::vector<bootp::Ipv4>{ip("10.77.0.70"), ip("10.77.0.80"), ip("10.77.0.90")}));

    kernel.answer({addresses}).answer({routesThrough(7, 11)}).answer({table});
    EXPECT_EQ(link.hostFacts(facts), EPROTO);
    EXPECT_TRUE(facts.addresses.empty());
    EXPECT_TRUE(facts.gateways.empty());

    Datagram memberMissing;
    memberMissing.nexthop(7, "10.77.0.70", 2).nexthop(10, nullptr, 0, {8, 9}).done();
    kernel.answer({addresses}).answer({routesThrough(7, 10)}).answer({memberMissing});
    EXPECT_EQ(link.hostFacts(facts), EPROTO);
    EXPECT_TRUE(facts.gateways.empty());

    kernel.answer({addresses})
        .answer({routesThrough(7, 10)})
        .answer({Datagram().error(-EOPNOTSUPP)});
    EXPECT_EQ(link.hostFacts(facts), EOPNOTSUPP);
    EXPECT_TRUE(facts.gateways.empty());
}

Datagram neighbourAnswer(const char* address, std::uint16_t state, const bootp::Mac& mac)
{
    ndmsg nd{};
    nd.ndm_family = AF_INET;
    nd.ndm_ifindex = 3;
    nd.ndm_state = state;
    Datagram d;
    d.message(RTM_NEWNEIGH, 0).body(nd).ipv4(NDA_DST, address);
    // A get is answered with the entry alone: no acknowledgement follows it.
    d.attribute(NDA_LLADDR, mac.data(), mac.size()).end();
    return d;
}

TEST(HelperRouteLink, NeighbourEntryAndWrite)
{
    const bootp::Mac card{0x02, 0, 0, 0, 0, 0x01};
    const bootp::Mac other{0x02, 0, 0, 0, 0, 0x99};
    auto owned = std::make_unique<CannedKernel>();
    CannedKernel& kernel = *owned;
    helper::RouteLink link(std::move(owned));
    helper::RouteLink::NeighbourEntry entry;

    kernel.answer({Datagram().error(-ENOENT)});
    ASSERT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), 0);
    EXPECT_FALSE(entry.present);

    kernel.answer({neighbourAnswer("10.77.0.30", NUD_INCOMPLETE, card)});
    ASSERT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), 0);
    EXPECT_TRUE(entry.present);
    EXPECT_FALSE(entry.hasMac);

    // An answer about another address is no answer about this one.
    kernel.answer({neighbourAnswer("10.77.0.31", NUD_PERMANENT, card)});
    EXPECT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), EPROTO);

    // A datagram nobody asked for, queued after a whole answer, is refused as the next answer
    // and not taken; the exchange after it is whole again.
    kernel.answer({neighbourAnswer("10.77.0.30", NUD_PERMANENT, card),
                   neighbourAnswer("10.77.0.30", NUD_PERMANENT, other)});
    ASSERT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), 0);
    EXPECT_EQ(entry.mac, card);
    kernel.answer({neighbourAnswer("10.77.0.30", NUD_PERMANENT, card)});
    EXPECT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), EPROTO);
    kernel.answer({neighbourAnswer("10.77.0.30", NUD_STALE, card)});
    ASSERT_EQ(link.neighbour(3, ip("10.77.0.30"), entry), 0);
    EXPECT_FALSE(entry.permanent);

    // The write is acknowledged whatever the kernel did; the entry read back tells.
    kernel.answer({Datagram().error(0)})
        .answer({neighbourAnswer("10.77.0.30", NUD_PERMANENT, card)});
    EXPECT_EQ(link.addPermanent(3, ip("10.77.0.30"), card), 0);
    kernel.answer({Datagram().error(0)})
        .answer({neighbourAnswer("10.77.0.30", NUD_REACHABLE, other)});
    EXPECT_EQ(link.addPermanent(3, ip("10.77.0.30"), card), EEXIST);
}

} // namespace
