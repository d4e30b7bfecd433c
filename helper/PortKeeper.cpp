#include "PortKeeper.h"

#include "BootMessage.h"

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
    Ipv4 yiaddr;
    std::copy_n(datagram.begin() + bootp::kYiaddr, 4, yiaddr.begin());
    m_ledger.replied(id, yiaddr);
    return {};
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

EntryResult writeChecked(HostSource& host, EntryTable& table, const EntryRecord& record)
{
    if (const auto refusal = checkEntryNow(host, record.ip, record.mac)) {
        return {0, *refusal};
    }
    return writeUnlessOtherMac(table, record);
}

} // namespace helper
