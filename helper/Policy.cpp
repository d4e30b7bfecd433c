#include "Policy.h"

#include "BootMessage.h"
#include "Card.h"

#include <algorithm>

namespace helper {

namespace {

std::uint32_t value(const Ipv4& a)
{
    return std::uint32_t(a[0]) << 24 | std::uint32_t(a[1]) << 16 | std::uint32_t(a[2]) << 8 | a[3];
}

Ipv4 at(std::span<const std::uint8_t> m, std::size_t offset)
{
    return {m[offset], m[offset + 1], m[offset + 2], m[offset + 3]};
}

std::uint32_t maskOf(int prefix)
{
    return prefix <= 0 ? 0 : ~std::uint32_t(0) << (32 - prefix);
}

bool contiguous(std::uint32_t mask)
{
    return mask != 0 && (~mask & (~mask + 1)) == 0;
}

bool mayDiffer(std::size_t i)
{
    using namespace bootp;
    return i == kOp || (i >= kYiaddr && i < kGiaddr) ||
           (i >= kReplyOptions && i < kReplyOptions + kReplyOptionsSize);
}

} // namespace

bool passOn(std::span<const std::uint8_t> datagram, std::uint16_t sourcePort, bool loopback)
{
    if (sourcePort != bootp::kClientPort || loopback || datagram.size() < bootp::kMinMessage ||
        datagram.size() > kMaxRequest || !bootp::isCardRequest(datagram)) {
        return false;
    }
    // A group bit set is a multicast or broadcast address, never a card's own.
    return (datagram[bootp::kChaddr] & 1) == 0;
}

std::optional<Refusal> checkAddress(const Ipv4& ip, const NetFacts& facts)
{
    if (ip[0] == 0 || ip[0] == 127 || ip[0] >= 224) {
        return Refusal::BadAddress;
    }
    const std::uint32_t a = value(ip);
    for (const NetFacts::Address& local : facts.addresses) {
        if (local.ip == ip) {
            return Refusal::LocalAddress;
        }
        // /31 and /32 subnets have no network or broadcast address (RFC 3021).
        if (local.prefix <= 30) {
            const std::uint32_t mask = maskOf(local.prefix);
            const std::uint32_t network = value(local.ip) & mask;
            if (a == network || a == (network | ~mask)) {
                return Refusal::SubnetEdge;
            }
        }
    }
    if (std::find(facts.gateways.begin(), facts.gateways.end(), ip) != facts.gateways.end()) {
        return Refusal::GatewayAddress;
    }
    return std::nullopt;
}

std::optional<Refusal> checkReply(std::span<const std::uint8_t> request,
                                  std::span<const std::uint8_t> reply, const NetFacts& facts)
{
    using namespace bootp;
    if (reply.size() != request.size() || reply.size() < kTouchedEnd) {
        return Refusal::ChangedBytes;
    }
    for (std::size_t i = 0; i < reply.size(); ++i) {
        if (!mayDiffer(i) && reply[i] != request[i]) {
            return Refusal::ChangedBytes;
        }
    }
    const std::size_t o = kReplyOptions;
    if (reply[kOp] != kBootReply || reply[o] != kOptSubnetMask || reply[o + 1] != 4 ||
        reply[o + 6] != kOptRouter || reply[o + 7] != 4 || reply[o + 12] != kOptEnd) {
        return Refusal::ChangedBytes;
    }
    const Ipv4 yiaddr = at(reply, kYiaddr);
    if (const auto refusal = checkAddress(yiaddr, facts)) {
        return refusal;
    }
    const std::uint32_t mask = value(at(reply, o + 2));
    if (!contiguous(mask)) {
        return Refusal::BadMask;
    }
    const std::uint32_t ip = value(yiaddr);
    if (mask <= maskOf(30) && ((ip & ~mask) == 0 || (ip & ~mask) == ~mask)) {
        return Refusal::BadAddress; // the network or broadcast address of the card's own subnet
    }
    const std::uint32_t gateway = value(at(reply, o + 8));
    if (gateway != 0 && ((gateway & mask) != (ip & mask) || gateway == ip)) {
        return Refusal::BadGateway;
    }
    const Ipv4 siaddr = at(reply, kSiaddr);
    if (value(siaddr) != 0 &&
        std::none_of(facts.addresses.begin(), facts.addresses.end(),
                     [&](const NetFacts::Address& a) { return a.ip == siaddr; })) {
        return Refusal::BadServer;
    }
    return std::nullopt;
}

std::uint32_t Ledger::remember(Bytes request, int ifindex, double now)
{
    Entry e{++m_lastId, ifindex, now, std::move(request)};
    if (m_entries.size() < kKept) {
        m_entries.push_back(std::move(e));
    } else {
        // Never push out the outstanding assignment: its entry is still to be written.
        if (m_entries[m_next].id == m_outstanding) {
            m_next = (m_next + 1) % kKept;
        }
        m_entries[m_next] = std::move(e);
        m_next = (m_next + 1) % kKept;
    }
    return m_lastId;
}

const Ledger::Entry* Ledger::find(std::uint32_t id) const
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [id](const Entry& e) { return e.id == id; });
    return it == m_entries.end() || id == 0 ? nullptr : &*it;
}

std::optional<Refusal> Ledger::mayReply(std::uint32_t id, double now) const
{
    const Entry* e = find(id);
    if (e == nullptr) {
        return Refusal::UnknownRequest;
    }
    if (e->replied) {
        return Refusal::AlreadyReplied;
    }
    if (now - e->received > kReplyWindowSeconds) {
        return Refusal::Expired;
    }
    if (const Entry* other = find(m_outstanding);
        other != nullptr && now - other->received <= 2 * kReplyWindowSeconds) {
        return Refusal::Outstanding;
    }
    return std::nullopt;
}

void Ledger::replied(std::uint32_t id, const Ipv4& yiaddr)
{
    for (Entry& e : m_entries) {
        if (e.id == id) {
            e.replied = true;
            e.yiaddr = yiaddr;
            m_outstanding = id;
        }
    }
}

std::optional<Refusal> Ledger::mayWriteNeighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac,
                                                 double now) const
{
    const Entry* e = find(id);
    if (e == nullptr) {
        return Refusal::UnknownRequest;
    }
    if (!e->replied || id != m_outstanding) {
        return Refusal::NotReplied;
    }
    if (now - e->received > 2 * kReplyWindowSeconds) {
        return Refusal::Expired;
    }
    if (ip != e->yiaddr || mac != bootp::requestMac(e->request)) {
        return Refusal::Mismatch;
    }
    if ((mac[0] & 1) != 0 || std::all_of(mac.begin(), mac.end(), [](auto b) { return b == 0; })) {
        return Refusal::BadMac;
    }
    return std::nullopt;
}

void Ledger::finished(std::uint32_t id)
{
    if (id == m_outstanding) {
        m_outstanding = 0;
    }
}

} // namespace helper
