#include "Writer.h"

#include "PortKeeper.h"

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>

namespace helper {

namespace {

/// The kernel's host facts and neighbour table over the writer's rtnetlink socket.
class KernelTable final : public HostSource, public EntryTable {
public:
    explicit KernelTable(RouteLink& route) : m_route(route) {}

    bool hostFacts(HostFacts& out) override { return m_route.hostFacts(out) == 0; }

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
};

} // namespace

void serveWriter(int link, RouteLink& route)
{
    KernelTable table(route);
    for (;;) {
        EntryRecord record;
        const ssize_t n = ::recv(link, &record, sizeof record, 0);
        if (n <= 0) {
            std::exit(0); // the listener has gone
        }
        EntryResult result{0, Refusal::Malformed};
        if (n == sizeof record && record.ifindex > 0 && record.zero == decltype(record.zero){}) {
            result = writeChecked(table, table, record);
        }
        if (::send(link, &result, sizeof result, MSG_NOSIGNAL) != sizeof result) {
            std::exit(0);
        }
    }
}

} // namespace helper
