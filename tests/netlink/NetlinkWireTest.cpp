// The reading of rtnetlink answers from canned datagrams: a query gives the whole answer or an
// errno, never a part.
#include "CannedAnswers.h"
#include "Rtnetlink.h"

#include <gtest/gtest.h>

#include <linux/neighbour.h>
#include <net/if.h>

#include <cstring>

using netlink::wire::Progress;

namespace {

// One datagram read, its outcome as the queries give it.
netlink::Result<Progress> readDatagram(std::span<const std::uint8_t> datagram,
                                       const netlink::wire::MessageHandler& handler)
{
    Progress progress;
    if (const int error = netlink::wire::readDatagram(datagram, kSeq, kPort, handler, progress);
        error != 0) {
        return netlink::Failure{error};
    }
    return progress;
}

ndmsg neighbourHeader(int family = AF_INET)
{
    ndmsg nd{};
    nd.ndm_family = static_cast<std::uint8_t>(family);
    nd.ndm_ifindex = 3;
    nd.ndm_state = NUD_REACHABLE;
    return nd;
}

// Reads one datagram, collecting the addresses the way the address dump does.
struct Reader {
    netlink::Result<Progress> read(std::span<const std::uint8_t> datagram)
    {
        return readDatagram(datagram, [this](const nlmsghdr* m) {
            ++seen;
            netlink::Address a;
            const int e = netlink::wire::decode(m, a);
            if (e == 0) {
                addresses.push_back(a);
            }
            return e;
        });
    }
    int seen = 0;
    std::vector<netlink::Address> addresses;
};

TEST(NetlinkWire, DumpInOneDatagram)
{
    Datagram d;
    d.address(2, "10.77.0.1", 24, "tvpc0").address(2, "10.77.0.9", 32, "tvpc0:1").done();
    Reader r;
    const auto step = r.read(d.span());
    ASSERT_TRUE(step.ok()) << std::strerror(step.error());
    EXPECT_EQ(*step, Progress::Done);
    ASSERT_EQ(r.addresses.size(), 2u);
    EXPECT_EQ(r.addresses[0].index, 2u);
    EXPECT_EQ(r.addresses[0].ip, 0x0A4D0001u);
    EXPECT_EQ(r.addresses[0].prefix, 24);
    EXPECT_EQ(r.addresses[0].mask(), 0xFFFFFF00u);
    EXPECT_EQ(r.addresses[0].label, "tvpc0");
    EXPECT_EQ(r.addresses[1].ip, 0x0A4D0009u);
    EXPECT_EQ(r.addresses[1].mask(), 0xFFFFFFFFu);
}

TEST(NetlinkWire, DumpOverTwoDatagramsEndsOnlyAtDone)
{
    Datagram first;
    first.address(2, "10.77.0.1", 24, "tvpc0");
    Datagram second;
    second.address(3, "10.78.0.1", 16, "tvpc1").done();
    Reader r;
    const auto a = r.read(first.span());
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(*a, Progress::More);
    const auto b = r.read(second.span());
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(*b, Progress::Done);
    EXPECT_EQ(r.addresses.size(), 2u);
}

TEST(NetlinkWire, AcknowledgementEndsARequest)
{
    Datagram d;
    d.error(0);
    Reader r;
    const auto step = r.read(d.span());
    ASSERT_TRUE(step.ok());
    EXPECT_EQ(*step, Progress::Done);
    EXPECT_EQ(r.seen, 0);
}

// Every broken answer: the errno it gives, and that no message of the datagram is taken when
// the datagram itself is malformed.
struct BrokenCase {
    const char* name;
    Datagram datagram;
    int error;
    bool nothingTaken; ///< refused before any message reaches the handler
};

void PrintTo(const BrokenCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<BrokenCase> brokenCases()
{
    std::vector<BrokenCase> cases;
    {
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0").error(-EPERM);
        cases.push_back({"KernelRefusal", d, EPERM, false});
    }
    {
        // The table changed during the dump: what came so far is no snapshot.
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0");
        ifaddrmsg ifa{};
        ifa.ifa_family = AF_INET;
        d.message(RTM_NEWADDR, NLM_F_MULTI | NLM_F_DUMP_INTR)
            .body(ifa)
            .ipv4(IFA_LOCAL, "10.77.0.2")
            .end()
            .done();
        cases.push_back({"DumpInterrupted", d, EINTR, false});
    }
    {
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0").done(0, NLM_F_MULTI | NLM_F_DUMP_INTR);
        cases.push_back({"DumpInterruptedAtDone", d, EINTR, false});
    }
    {
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0").done(-ENOBUFS);
        cases.push_back({"DumpFailedAtDone", d, ENOBUFS, false});
    }
    {
        // The last message is cut short: the datagram is refused whole.
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0").address(2, "10.77.0.2", 24, "tvpc0").done();
        d.bytes().resize(d.bytes().size() - NLMSG_HDRLEN - 8);
        cases.push_back({"TruncatedDatagram", d, EBADMSG, true});
    }
    {
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0");
        d.bytes().insert(d.bytes().end(), {0, 0, 0, 0, 0, 0, 0, 0});
        cases.push_back({"TrailingBytes", d, EBADMSG, true});
    }
    {
        // A length of 2 GiB or more, which a signed check takes for negative.
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0").address(2, "10.77.0.2", 24, "tvpc0").done();
        const std::uint32_t huge = 0xFFFFFFECu;
        std::memcpy(d.bytes().data() + d.bytes().size() - NLMSG_ALIGN(NLMSG_LENGTH(4)), &huge, 4);
        cases.push_back({"HugeLength", d, EBADMSG, true});
    }
    {
        Datagram d;
        d.address(2, "10.77.0.1", 24, "tvpc0")
            .message(RTM_NEWADDR, NLM_F_MULTI, kSeq + 1)
            .body(ifaddrmsg{AF_INET, 24, 0, 0, 2})
            .ipv4(IFA_LOCAL, "10.77.0.2")
            .end();
        cases.push_back({"OtherSequence", d, EPROTO, true});
    }
    {
        Datagram d;
        d.message(RTM_NEWADDR, NLM_F_MULTI, kSeq, kPort + 1)
            .body(ifaddrmsg{AF_INET, 24, 0, 0, 2})
            .ipv4(IFA_LOCAL, "10.77.0.2")
            .end()
            .done();
        cases.push_back({"OtherPort", d, EPROTO, true});
    }
    {
        // An attribute that claims more bytes than its message holds.
        Datagram d;
        d.message(RTM_NEWADDR).body(ifaddrmsg{AF_INET, 24, 0, 0, 2}).ipv4(IFA_LOCAL, "10.77.0.2");
        d.end();
        d.bytes()[NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifaddrmsg))] = 40;
        d.done();
        cases.push_back({"AttributePastMessage", d, EBADMSG, false});
    }
    {
        Datagram d;
        d.message(RTM_NEWADDR).body(std::uint16_t{AF_INET}).end().done();
        cases.push_back({"ShortFamilyHeader", d, EBADMSG, false});
    }
    {
        Datagram d;
        d.message(RTM_NEWADDR).body(ifaddrmsg{AF_INET, 24, 0, 0, 2}).end().done();
        cases.push_back({"AddressWithoutAddress", d, EBADMSG, false});
    }
    {
        Datagram d;
        d.message(RTM_NEWADDR).body(ifaddrmsg{AF_INET, 24, 0, 0, 2}).ipv4(IFA_LOCAL, "10.0.0.1");
        d.attribute(IFA_LABEL, "eth0", 4).end().done(); // no terminating NUL
        cases.push_back({"UnterminatedLabel", d, EBADMSG, false});
    }
    {
        Datagram d;
        d.message(RTM_NEWNEIGH).body(neighbourHeader()).ipv4(NDA_DST, "10.0.0.1").end().done();
        cases.push_back({"MessageOfAnotherKind", d, EPROTO, false});
    }
    {
        Datagram d;
        d.message(NLMSG_ERROR, 0).body(std::int32_t{-EPERM}).end();
        cases.push_back({"ShortErrorMessage", d, EBADMSG, false});
    }
    {
        Datagram d;
        d.message(NLMSG_OVERRUN, 0).end();
        cases.push_back({"Overrun", d, ENOBUFS, false});
    }
    cases.push_back({"EmptyDatagram", Datagram(), EBADMSG, true});
    return cases;
}

class NetlinkBroken : public testing::TestWithParam<BrokenCase> {};

TEST_P(NetlinkBroken, RefusedWithItsErrno)
{
    Reader r;
    const auto step = r.read(GetParam().datagram.span());
    ASSERT_FALSE(step.ok());
    EXPECT_EQ(step.error(), GetParam().error)
        << std::strerror(step.error()) << " instead of " << std::strerror(GetParam().error);
    if (GetParam().nothingTaken) {
        EXPECT_EQ(r.seen, 0);
    }
    EXPECT_THROW(static_cast<void>(step.value()), std::logic_error);
}

INSTANTIATE_TEST_SUITE_P(Answers, NetlinkBroken, testing::ValuesIn(brokenCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NetlinkDecode, Neighbours)
{
    const netlink::Mac mac{0x02, 0x00, 0x00, 0x00, 0x09, 0x02};
    Datagram d;
    d.message(RTM_NEWNEIGH).body(neighbourHeader()).ipv4(NDA_DST, "10.77.9.2");
    d.attribute(NDA_LLADDR, mac.data(), mac.size()).end();
    ndmsg incomplete = neighbourHeader();
    incomplete.ndm_state = NUD_INCOMPLETE;
    d.message(RTM_NEWNEIGH).body(incomplete).ipv4(NDA_DST, "10.77.9.3").end();
    std::vector<netlink::Neighbour> out;
    const auto step = readDatagram(d.span(), [&](const nlmsghdr* m) {
        netlink::Neighbour n;
        const int e = netlink::wire::decode(m, n);
        out.push_back(n);
        return e;
    });
    ASSERT_TRUE(step.ok()) << std::strerror(step.error());
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].index, 3u);
    EXPECT_EQ(out[0].ip, 0x0A4D0902u);
    EXPECT_EQ(out[0].state, NUD_REACHABLE);
    ASSERT_TRUE(out[0].mac.has_value());
    EXPECT_EQ(*out[0].mac, mac);
    EXPECT_EQ(out[1].state, NUD_INCOMPLETE);
    EXPECT_FALSE(out[1].mac.has_value());
}

int decodeOne(Datagram& d, netlink::Neighbour& n)
{
    return netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(d.bytes().data()), n);
}

TEST(NetlinkDecode, NeighbourRefusals)
{
    netlink::Neighbour n;
    Datagram noDestination;
    noDestination.message(RTM_NEWNEIGH).body(neighbourHeader()).end();
    EXPECT_EQ(decodeOne(noDestination, n), EBADMSG);

    Datagram ipv6;
    ipv6.message(RTM_NEWNEIGH).body(neighbourHeader(AF_INET6)).ipv4(NDA_DST, "10.0.0.1").end();
    EXPECT_EQ(decodeOne(ipv6, n), EPROTO);

    Datagram shortDestination;
    shortDestination.message(RTM_NEWNEIGH).body(neighbourHeader());
    shortDestination.attribute(NDA_DST, "\x0a\x00", 2).end();
    EXPECT_EQ(decodeOne(shortDestination, n), EBADMSG);
}

TEST(NetlinkDecode, RoutesAndLinks)
{
    rtmsg rt{};
    rt.rtm_family = AF_INET;
    rt.rtm_table = RT_TABLE_MAIN;
    rt.rtm_type = RTN_UNICAST;
    const std::uint32_t oif = 4;
    Datagram route;
    route.message(RTM_NEWROUTE).body(rt).ipv4(RTA_GATEWAY, "10.77.0.254");
    route.attribute(RTA_OIF, &oif, sizeof oif).end();
    netlink::Route r;
    ASSERT_EQ(netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(route.bytes().data()), r), 0);
    EXPECT_EQ(r.prefix, 0);
    EXPECT_EQ(r.gateway, 0x0A4D00FEu);
    EXPECT_EQ(r.index, 4u);
    EXPECT_EQ(r.table, static_cast<std::uint32_t>(RT_TABLE_MAIN));

    Datagram multipath;
    multipath.message(RTM_NEWROUTE).body(rt).nexthops({"10.77.0.253", "10.78.0.254"}).end();
    ASSERT_EQ(netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(multipath.bytes().data()), r),
              0);
    EXPECT_EQ(r.gateway, 0u);
    EXPECT_EQ(r.nexthops, (std::vector<netlink::Ipv4>{0x0A4D00FDu, 0x0A4E00FEu}));
    // A next hop that claims more than its attribute holds.
    multipath.bytes()[NLMSG_HDRLEN + NLMSG_ALIGN(sizeof rt) + NLA_HDRLEN] = 40;
    EXPECT_EQ(netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(multipath.bytes().data()), r),
              EBADMSG);

    ifinfomsg ifi{};
    ifi.ifi_index = 5;
    ifi.ifi_flags = IFF_UP;
    Datagram link;
    link.message(RTM_NEWLINK).body(ifi).attribute(IFLA_IFNAME, "tvpc0", 6).end();
    netlink::Link l;
    ASSERT_EQ(netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(link.bytes().data()), l), 0);
    EXPECT_EQ(l.index, 5u);
    EXPECT_EQ(l.name, "tvpc0");
    EXPECT_TRUE(l.flags & IFF_UP);

    Datagram unnamed;
    unnamed.message(RTM_NEWLINK).body(ifi).end();
    EXPECT_EQ(netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(unnamed.bytes().data()), l),
              EBADMSG);
}

TEST(NetlinkDecode, NexthopObjects)
{
    const auto decodeFirst = [](Datagram& d, netlink::Nexthop& n) {
        return netlink::wire::decode(reinterpret_cast<const nlmsghdr*>(d.bytes().data()), n);
    };
    netlink::Nexthop n;
    Datagram single;
    single.nexthop(7, "10.77.0.254", 4);
    ASSERT_EQ(decodeFirst(single, n), 0);
    EXPECT_EQ(n.id, 7u);
    EXPECT_EQ(n.gateway, 0x0A4D00FEu);
    EXPECT_EQ(n.index, 4u);
    Datagram group;
    group.nexthop(10, nullptr, 0, {7, 8});
    ASSERT_EQ(decodeFirst(group, n), 0);
    EXPECT_EQ(n.group, (std::vector<std::uint32_t>{7, 8}));
    EXPECT_EQ(n.gateway, 0u);

    // A member cut short, a gateway of three bytes, and no id at all.
    const std::uint32_t id = 10;
    const std::uint8_t shortMembers[12] = {};
    Datagram cut;
    cut.message(RTM_NEWNEXTHOP).body(nhmsg{}).attribute(NHA_ID, &id, 4);
    cut.attribute(NHA_GROUP, shortMembers, sizeof shortMembers).end();
    EXPECT_EQ(decodeFirst(cut, n), EBADMSG);
    nhmsg ipv4{};
    ipv4.nh_family = AF_INET;
    Datagram shortGateway;
    shortGateway.message(RTM_NEWNEXTHOP).body(ipv4).attribute(NHA_ID, &id, 4);
    shortGateway.attribute(NHA_GATEWAY, "\x0a\x00\x00", 3).end();
    EXPECT_EQ(decodeFirst(shortGateway, n), EBADMSG);
    Datagram noId;
    noId.message(RTM_NEWNEXTHOP).body(ipv4).ipv4(NHA_GATEWAY, "10.77.0.254").end();
    EXPECT_EQ(decodeFirst(noId, n), EBADMSG);
}

TEST(NetlinkRequest, OutgrownBufferIsRefusedUnsent)
{
    netlink::Request request(RTM_NEWLINK, 0);
    request.header<ifinfomsg>().ifi_family = AF_UNSPEC;
    const std::vector<char> big(8000, 'x');
    request.put(IFLA_IFALIAS, big.data(), big.size());
    EXPECT_EQ(request.execute(), EMSGSIZE);
}

} // namespace
