#include "PortKeeper.h"

#include "BootMessage.h"
#include "Card.h"
#include "Temporary.h"

#include <algorithm>
#include <vector>

namespace helper {

namespace {

Answer refuse(Refusal r)
{
    return {0, r, {}};
}

/// The entry against the host as it is now; a host that cannot be read refuses it.
std::optional<Refusal> checkEntryNow(HostSource& source, const Ipv4& ip, const Mac& mac)
{
    HostFacts host;
    if (!source.hostFacts(host)) {
        return Refusal::KernelQuery;
    }
    return checkEntry(ip, mac, host);
}

std::uint64_t macKey(const std::uint8_t* mac)
{
    std::uint64_t key = 0;
    for (int i = 0; i < 6; ++i) {
        key = key << 8 | mac[i];
    }
    return key;
}

} // namespace

Answer PortKeeper::want(std::span<const Mac> macs)
{
    std::vector<std::uint64_t> added;
    for (const Mac& mac : macs) {
        if (const std::uint64_t key = macKey(mac.data()); m_wanted.insert(key).second) {
            added.push_back(key);
        }
    }
    if (m_wanted.size() > kMaxWanted) {
        for (const std::uint64_t key : added) {
            m_wanted.erase(key);
        }
        return refuse(Refusal::Malformed);
    }
    return {};
}

bool PortKeeper::wants(std::span<const std::uint8_t> datagram) const
{
    return m_wanted.empty() || (datagram.size() >= bootp::kChaddr + 6 &&
                                m_wanted.count(macKey(datagram.data() + bootp::kChaddr)) != 0);
}

bool PortKeeper::mayReport(std::span<const std::uint8_t> datagram) const
{
    return m_reported.size() < kMaxSeenOnly && datagram.size() >= bootp::kChaddr + 6 &&
           m_reported.count(macKey(datagram.data() + bootp::kChaddr)) == 0;
}

std::optional<Request> PortKeeper::arrived(std::span<const std::uint8_t> datagram,
                                           const Arrival& arrival)
{
    // A sender from 0.0.0.0 is never this PC: no address of the host needs to be read.
    if (!m_listening || !passOn(datagram, arrival)) {
        return std::nullopt;
    }
    const bool wanted = wants(datagram);
    if (!wanted && !mayReport(datagram)) {
        return std::nullopt;
    }
    Request request;
    request.datagram.assign(datagram.begin(), datagram.end());
    request.ifindex = arrival.ifindex;
    if (!wanted) {
        // Named once so that the operator can add it to the list; never kept, so never
        // answered, and it takes no wanted card's room.
        m_reported.insert(macKey(datagram.data() + bootp::kChaddr));
        request.id = 0;
        return request;
    }
    request.id = m_ledger.remember(request.datagram, arrival.ifindex, m_seams.now());
    return request;
}

Answer PortKeeper::reply(std::uint32_t id, std::span<const std::uint8_t> datagram)
{
    if (const auto refusal = m_ledger.mayReply(id, m_seams.now())) {
        return refuse(*refusal);
    }
    const Ledger::Entry& entry = *m_ledger.find(id);
    HostFacts host;
    if (!m_seams.hostFacts(host)) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = checkReply(entry.request, datagram, entry.ifindex, host)) {
        return refuse(*refusal);
    }
    const Answer sent = m_seams.send(datagram, entry.ifindex);
    if (!sent.ok()) {
        return sent;
    }
    const bootp::Assignment sentTo = *bootp::readReply(entry.request, datagram);
    m_ledger.replied(id, sentTo.ip, sentTo.mask, sentTo.gateway);
    return {};
}

Answer PortKeeper::temporary(std::uint32_t id, const Ipv4& address, std::uint32_t lifetime)
{
    if (const auto refusal = m_ledger.mayAddTemporary(id, m_seams.now())) {
        return refuse(*refusal);
    }
    const Ledger::Entry& e = *m_ledger.find(id);
    TemporaryRecord record;
    record.ifindex = e.ifindex;
    record.card = e.yiaddr;
    record.mask = e.mask;
    record.gateway = e.gateway;
    record.address = address;
    record.lifetime = std::clamp(lifetime, kMinTemporaryLifetime, kTemporaryLifetime);
    HostFacts host;
    if (!m_seams.hostFacts(host)) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = checkTemporary(record, host)) {
        return refuse(*refusal);
    }
    return m_seams.addTemporary(record);
}

Answer PortKeeper::neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac)
{
    if (const auto refusal = m_ledger.mayWriteNeighbour(id, ip, mac, m_seams.now())) {
        return refuse(*refusal);
    }
    const int ifindex = m_ledger.find(id)->ifindex;
    // The assignment ends here whatever becomes of its entry: the next card is not held up.
    m_ledger.finished(id);
    if (const auto refusal = checkEntryNow(m_seams, ip, mac)) {
        return refuse(*refusal);
    }
    return m_seams.writeEntry({ifindex, ip, mac});
}

Answer PortKeeper::finish(std::uint32_t id)
{
    if (const auto refusal = m_ledger.mayFinish(id)) {
        return refuse(*refusal);
    }
    m_ledger.finished(id);
    return {};
}

EntryResult writeUnlessOtherMac(EntryTable& table, const EntryRecord& record)
{
    NeighbourEntry present;
    if (!table.read(record.ifindex, record.ip, present)) {
        return {0, Refusal::KernelQuery};
    }
    if (present.hasMac && present.mac != record.mac) {
        return {0, Refusal::OtherMac};
    }
    return table.write(record, present);
}

std::optional<Refusal> checkTemporary(const TemporaryRecord& record, const HostFacts& host)
{
    const bootp::CardSettings card{record.card, record.mask, record.gateway};
    if (record.ifindex <= 0 || bootp::checkSettings(card.ip, card.mask, card.gateway)) {
        return Refusal::Malformed;
    }
    if (const auto problem = bootp::temporaryProblem(record.address, card, host)) {
        return *problem == bootp::TemporaryProblem::ThisPc ? Refusal::LocalAddress
                                                           : Refusal::BadAddress;
    }
    // The card itself must be no address of this PC either, nor reachable as one.
    if (bootp::clashWithHost(card.ip, host)) {
        return Refusal::LocalAddress;
    }
    return std::nullopt;
}

EntryResult writeChecked(HostSource& host, EntryTable& table, const EntryRecord& record)
{
    if (const auto refusal = checkEntryNow(host, record.ip, record.mac)) {
        return {0, *refusal};
    }
    return writeUnlessOtherMac(table, record);
}

} // namespace helper
