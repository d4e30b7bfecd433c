#include "Writer.h"

#include "PortKeeper.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/socket.h>

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

} // namespace

void serveWriter(int link, RouteLink& route)
{
    KernelTable table(route);
    for (;;) {
        alignas(EntryRecord) std::uint8_t buffer[kEntriesPerExchange * sizeof(EntryRecord) + 1];
        const ssize_t n = ::recv(link, buffer, sizeof buffer, 0);
        if (n <= 0) {
            std::exit(0); // the listener has gone
        }
        // Whole records only, each answered in turn; anything else is one Malformed.
        const std::size_t size = static_cast<std::size_t>(n);
        const std::size_t count =
            size % sizeof(EntryRecord) == 0 && size < sizeof buffer ? size / sizeof(EntryRecord) : 0;
        EntryResult results[kEntriesPerExchange];
        results[0] = {0, Refusal::Malformed};
        table.nextMessage();
        for (std::size_t i = 0; i < count; ++i) {
            EntryRecord record;
            std::memcpy(&record, buffer + i * sizeof record, sizeof record);
            results[i] = {0, Refusal::Malformed};
            if (record.ifindex > 0 && record.zero == decltype(record.zero){}) {
                results[i] = writeChecked(table, table, record);
            }
        }
        const std::size_t answer = std::max<std::size_t>(count, 1) * sizeof(EntryResult);
        if (::send(link, results, answer, MSG_NOSIGNAL) != static_cast<ssize_t>(answer)) {
            std::exit(0);
        }
    }
}

} // namespace helper
