#include "Writer.h"

#include "PortKeeper.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace helper {

namespace {

/// The kernel's host facts and neighbour table over the writer's rtnetlink socket.
class KernelTable final : public HostSource, public EntryTable {
public:
    explicit KernelTable(RouteLink& route) : m_route(route) {}

    bool hostFacts(HostFacts& out) override
    {
        // Read once per message, after all of its records arrived.
        if (!m_facts) {
            HostFacts facts;
            if (m_route.hostFacts(facts) != 0) {
                return false;
            }
            m_facts = std::move(facts);
        }
        out = *m_facts;
        return true;
    }
    void nextMessage() { m_facts.reset(); }

    bool read(int ifindex, const Ipv4& ip, NeighbourEntry& out) override
    {
        RouteLink::NeighbourEntry e;
        if (m_route.neighbour(ifindex, ip, e) != 0) {
            return false;
        }
        out = {e.present, e.hasMac, e.mac, e.permanent};
        return true;
    }

    EntryResult write(const EntryRecord& r, const NeighbourEntry&) override
    {
        const int err = m_route.addPermanent(r.ifindex, r.ip, r.mac);
        if (err == EEXIST) {
            return {0, Refusal::OtherMac}; // appeared after the check; it was left as it was
        }
        return {err, Refusal::None};
    }

private:
    RouteLink& m_route;
    std::optional<HostFacts> m_facts;
};

double seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// RFC 5227's probe, shortened so that the operator does not wait: three probes a quarter of
// a second apart, then a last quarter second for an answer.
constexpr int kProbes = 3;
constexpr int kProbeIntervalMs = 250;

/// An ARP packet for IPv4 over Ethernet (RFC 826), as the packet socket sends and reads it.
struct ArpPacket {
    std::uint16_t htype = htons(ARPHRD_ETHER);
    std::uint16_t ptype = htons(ETH_P_IP);
    std::uint8_t hlen = 6;
    std::uint8_t plen = 4;
    std::uint16_t op = htons(ARPOP_REQUEST);
    Mac senderMac{};
    Ipv4 senderIp{};
    Mac targetMac{};
    Ipv4 targetIp{};
};
static_assert(sizeof(ArpPacket) == 28);

/// Whether another device answers for address on ifindex: an ARP packet from anyone else
/// with address as its sender, or another probe for it (RFC 5227 section 2.1.1). 0 with the
/// outcome, or an errno: a probe that could not be made is no proof that the address is free.
int probe(int fd, int ifindex, const Ipv4& address, bool& taken)
{
    taken = false;
    ifreq req{};
    req.ifr_ifindex = ifindex;
    if (::ioctl(fd, SIOCGIFNAME, &req) != 0 || ::ioctl(fd, SIOCGIFHWADDR, &req) != 0) {
        return errno;
    }
    if (req.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        return EOPNOTSUPP;
    }
    ArpPacket out;
    std::memcpy(out.senderMac.data(), req.ifr_hwaddr.sa_data, 6);
    out.targetIp = address;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = ifindex;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xff, 6);
    // What arrived before the probe says nothing about it.
    while (::recv(fd, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
    for (int i = 0; i <= kProbes; ++i) {
        if (i < kProbes && ::sendto(fd, &out, sizeof out, 0, reinterpret_cast<sockaddr*>(&to),
                                    sizeof to) != sizeof out) {
            return errno;
        }
        const double until = seconds() + kProbeIntervalMs / 1000.0;
        for (double left = kProbeIntervalMs / 1000.0; left > 0; left = until - seconds()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left * 1000) + 1) < 0 && errno != EINTR) {
                return errno;
            }
            ArpPacket in;
            sockaddr_ll from{};
            socklen_t size = sizeof from;
            while (::recvfrom(fd, &in, sizeof in, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                              &size) == sizeof in) {
                const bool fromOther =
                    from.sll_pkttype != PACKET_OUTGOING && in.senderMac != out.senderMac;
                if (from.sll_ifindex == ifindex && fromOther && in.htype == out.htype &&
                    in.ptype == out.ptype &&
                    (in.senderIp == address || (bootp::toValue(in.senderIp) == 0 &&
                                                in.targetIp == address && in.op == out.op))) {
                    taken = true;
                    return 0;
                }
                size = sizeof from;
            }
        }
    }
    return 0;
}

/// The temporary addresses added in this search, each with its host route.
class TemporaryAddresses {
public:
    TemporaryAddresses(RouteLink& route, int probeFd) : m_route(route), m_probe(probeFd) {}

    EntryResult add(const TemporaryRecord& record, HostSource& host);
    /// Renews every address still there; forgets one that has gone (with its route, which
    /// the kernel removes with its source).
    void renew();
    void removeAll();
    /// Milliseconds until the next renewal, -1 when nothing is held.
    int nextRenewalMs() const;

private:
    struct Held {
        int ifindex = 0;
        Ipv4 address{};
        Ipv4 card{};
        std::uint32_t lifetime = 0;
        double renewed = 0;
    };
    static constexpr std::size_t kMaxHeld = 16;

    RouteLink& m_route;
    int m_probe;
    std::vector<Held> m_held;
};

EntryResult TemporaryAddresses::add(const TemporaryRecord& record, HostSource& host)
{
    if (m_probe < 0) {
        return {-m_probe, Refusal::None};
    }
    if (m_held.size() >= kMaxHeld) {
        return {ENOSPC, Refusal::None};
    }
    HostFacts facts;
    if (!host.hostFacts(facts)) {
        return {0, Refusal::KernelQuery};
    }
    if (const auto refusal = checkTemporary(record, facts)) {
        return {0, *refusal};
    }
    bool taken = false;
    if (const int err = probe(m_probe, record.ifindex, record.address, taken); err != 0) {
        return {err, Refusal::None};
    }
    if (taken) {
        return {0, Refusal::InUse};
    }
    if (const int err =
            m_route.addTemporaryAddress(record.ifindex, record.address, record.lifetime, false);
        err != 0) {
        return {err, Refusal::None};
    }
    if (const int err = m_route.addHostRoute(record.ifindex, record.card, record.address);
        err != 0) {
        m_route.deleteAddress(record.ifindex, record.address);
        return {err, Refusal::None};
    }
    m_held.push_back({record.ifindex, record.address, record.card, record.lifetime, seconds()});
    return {};
}

void TemporaryAddresses::renew()
{
    const double now = seconds();
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (now - it->renewed < it->lifetime / 3.0) {
            ++it;
            continue;
        }
        // Renewing an address that is gone would add it again behind the back of whoever
        // removed it: it is forgotten instead (the front-end notices it gone). One that
        // cannot be looked at is left to expire.
        bool present = false;
        if (m_route.hasAddress(it->ifindex, it->address, present) == 0 && !present) {
            it = m_held.erase(it);
            continue;
        }
        if (present) {
            m_route.addTemporaryAddress(it->ifindex, it->address, it->lifetime, true);
        }
        it->renewed = now;
        ++it;
    }
}

void TemporaryAddresses::removeAll()
{
    // The route first: were the address to go first, the kernel would take the route anyway.
    for (const Held& h : m_held) {
        m_route.deleteHostRoute(h.ifindex, h.card, h.address);
        m_route.deleteAddress(h.ifindex, h.address);
    }
    m_held.clear();
}

int TemporaryAddresses::nextRenewalMs() const
{
    if (m_held.empty()) {
        return -1;
    }
    double next = 1e9;
    for (const Held& h : m_held) {
        next = std::min(next, h.renewed + h.lifetime / 3.0);
    }
    return std::max(0, static_cast<int>((next - seconds()) * 1000) + 1);
}

} // namespace

int openProbeSocket()
{
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP));
    return fd < 0 ? -errno : fd;
}

void serveWriter(int link, RouteLink& route, int probeFd)
{
    KernelTable table(route);
    TemporaryAddresses temporaries(route, probeFd);
    for (;;) {
        pollfd p{link, POLLIN, 0};
        const int ready = ::poll(&p, 1, temporaries.nextRenewalMs());
        temporaries.renew();
        if (ready <= 0) {
            continue;
        }
        // Large enough for a batch of entries or a temporary address; the size tells them
        // apart (a TemporaryRecord is no whole number of entries).
        static_assert(sizeof(TemporaryRecord) % sizeof(EntryRecord) != 0);
        constexpr std::size_t kLargest =
            std::max(kEntriesPerExchange * sizeof(EntryRecord), sizeof(TemporaryRecord));
        alignas(TemporaryRecord) alignas(EntryRecord) std::uint8_t buffer[kLargest + 1];
        const ssize_t n = ::recv(link, buffer, sizeof buffer, 0);
        if (n <= 0) {
            // The listener has gone: the search is over, and so is what it added.
            temporaries.removeAll();
            std::exit(0);
        }
        const std::size_t size = static_cast<std::size_t>(n);
        table.nextMessage();
        EntryResult results[kEntriesPerExchange];
        results[0] = {0, Refusal::Malformed};
        std::size_t answered = 1;
        if (size == sizeof(TemporaryRecord)) {
            TemporaryRecord record;
            std::memcpy(&record, buffer, sizeof record);
            if (record.kind == TemporaryRecord::kKind && record.lifetime >= kMinTemporaryLifetime &&
                record.lifetime <= kTemporaryLifetime) {
                results[0] = temporaries.add(record, table);
            }
        } else if (size % sizeof(EntryRecord) == 0 &&
                   size <= kEntriesPerExchange * sizeof(EntryRecord)) {
            // Whole entry records, each answered in turn; anything else is one Malformed.
            answered = size / sizeof(EntryRecord);
            for (std::size_t i = 0; i < answered; ++i) {
                EntryRecord record;
                std::memcpy(&record, buffer + i * sizeof record, sizeof record);
                results[i] = {0, Refusal::Malformed};
                if (record.ifindex > 0 && record.zero == decltype(record.zero){}) {
                    results[i] = writeChecked(table, table, record);
                }
            }
        }
        const std::size_t bytes = answered * sizeof(EntryResult);
        if (::send(link, results, bytes, MSG_NOSIGNAL) != static_cast<ssize_t>(bytes)) {
            temporaries.removeAll();
            std::exit(0);
        }
    }
}

} // namespace helper
