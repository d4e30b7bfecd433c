#include "Policy.h"

#include "BootMessage.h"
#include "Card.h"

#include <algorithm>

namespace helper {

namespace {

Refusal refusalFor(const bootp::SettingsProblem& p)
{
    switch (p.field) {
    case bootp::SettingsProblem::Field::Mask:
        return Refusal::BadMask;
    case bootp::SettingsProblem::Field::Gateway:
        return Refusal::BadGateway;
    case bootp::SettingsProblem::Field::Address:
        break;
    }
    return Refusal::BadAddress;
}

Refusal refusalFor(bootp::HostClash c)
{
    switch (c) {
    case bootp::HostClash::LocalAddress:
        return Refusal::LocalAddress;
    case bootp::HostClash::SubnetEdge:
        return Refusal::SubnetEdge;
    case bootp::HostClash::Gateway:
        break;
    }
    return Refusal::GatewayAddress;
}

} // namespace

bool passOn(std::span<const std::uint8_t> datagram, const Arrival& arrival)
{
    return arrival.sourcePort == bootp::kClientPort && !arrival.loopback &&
           bootp::toValue(arrival.source) == 0 &&
           bootp::toValue(arrival.destination) == 0xFFFFFFFF &&
           datagram.size() >= bootp::kMinMessage && datagram.size() <= kMaxRequest &&
           bootp::isCardRequest(datagram) && bootp::isCardMac(bootp::requestMac(datagram));
}

std::optional<Refusal> checkReply(std::span<const std::uint8_t> request,
                                  std::span<const std::uint8_t> reply, int arrivalIfindex,
                                  const HostFacts& host)
{
    const std::optional<bootp::Assignment> a = bootp::readReply(request, reply);
    if (!a) {
        return Refusal::ChangedBytes;
    }
    if (const auto problem = bootp::checkSettings(a->ip, a->mask, a->gateway)) {
        return refusalFor(*problem);
    }
    if (const auto clash = bootp::clashWithHost(a->ip, host)) {
        return refusalFor(*clash);
    }
    if (bootp::toValue(a->server) != 0 && !bootp::isAddressOf(a->server, arrivalIfindex, host)) {
        return Refusal::BadServer;
    }
    return std::nullopt;
}

std::optional<Refusal> checkEntry(const Ipv4& ip, const Mac& mac, const HostFacts& host)
{
    if (!bootp::isCardMac(mac)) {
        return Refusal::BadMac;
    }
    if (bootp::unicastProblem(ip)) {
        return Refusal::BadAddress;
    }
    if (const auto clash = bootp::clashWithHost(ip, host)) {
        return refusalFor(*clash);
    }
    return std::nullopt;
}

void Ledger::forgetOne(const Mac* sameCard)
{
    // The oldest request of the card (or of all), but never the outstanding assignment's.
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.id != m_outstanding && (sameCard == nullptr || e.mac == *sameCard);
    });
    if (it != m_entries.end()) {
        m_entries.erase(it);
    }
}

std::uint32_t Ledger::remember(Bytes request, int ifindex, double now)
{
    const Mac mac = bootp::requestMac(request);
    const auto sameCard = static_cast<std::size_t>(std::count_if(
        m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.mac == mac; }));
    if (sameCard >= kPerCard) {
        forgetOne(&mac);
    } else if (m_entries.size() >= kKept) {
        forgetOne(nullptr);
    }
    if (++m_lastId == 0) {
        ++m_lastId; // 0 stands for a request that is not kept
    }
    m_entries.push_back({m_lastId, ifindex, now, std::move(request), mac});
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

void Ledger::replied(std::uint32_t id, const Ipv4& yiaddr, const Ipv4& mask, const Ipv4& gateway)
{
    for (Entry& e : m_entries) {
        if (e.id == id) {
            e.replied = true;
            e.yiaddr = yiaddr;
            e.mask = mask;
            e.gateway = gateway;
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
    if (ip != e->yiaddr || mac != e->mac) {
        return Refusal::Mismatch;
    }
    if (!bootp::isCardMac(mac)) {
        return Refusal::BadMac;
    }
    return std::nullopt;
}

std::optional<Refusal> Ledger::mayAddTemporary(std::uint32_t id, double now) const
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
    return std::nullopt;
}

void Ledger::finished(std::uint32_t id)
{
    if (id == m_outstanding) {
        m_outstanding = 0;
    }
}

std::optional<Refusal> Ledger::mayFinish(std::uint32_t id) const
{
    if (find(id) == nullptr) {
        return Refusal::UnknownRequest;
    }
    return id == m_outstanding ? std::nullopt : std::optional<Refusal>(Refusal::NotReplied);
}

} // namespace helper
