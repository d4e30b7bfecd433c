#include "NeighbourWrite.h"

#include <cerrno>

namespace winnet {

namespace {

/// The table as the port keeper's writer sees it; keeps the failure of the last call.
class Table final : public helper::EntryTable {
public:
    explicit Table(NeighbourSystem& system) : m_system(system) {}

    bool read(int ifindex, const bootp::Ipv4& ip, NeighbourEntry& out) override
    {
        const auto e = m_system.entry(static_cast<unsigned long>(ifindex), ip);
        if (!e) {
            failure = e.failure();
            return false;
        }
        out = *e;
        return true;
    }

    helper::EntryResult write(const helper::EntryRecord& r, const NeighbourEntry& before) override
    {
        if (before.hasMac && before.permanent) {
            return {};
        }
        // Windows has no "create unless another MAC holds it" in one call: an entry without a
        // MAC or with this MAC is made permanent, none is created, and the entry read back
        // afterwards tells whether another MAC came in between.
        const auto ifindex = static_cast<unsigned long>(r.ifindex);
        const auto write = before.present ? m_system.makePermanent(ifindex, r.ip, r.mac)
                                          : m_system.create(ifindex, r.ip, r.mac);
        if (!write && write.failure().code != NeighbourSystem::kAlreadyExists) {
            failure = write.failure();
            return {EIO, helper::Refusal::None};
        }
        NeighbourEntry after;
        if (!read(r.ifindex, r.ip, after)) {
            return {0, helper::Refusal::KernelQuery};
        }
        if (!after.hasMac || after.mac != r.mac || !after.permanent) {
            return {0, helper::Refusal::OtherMac};
        }
        return {};
    }

    Failure failure;

private:
    NeighbourSystem& m_system;
};

} // namespace

helper::Answer addPermanentNeighbour(NeighbourSystem& system, unsigned long ifindex,
                                     const bootp::Ipv4& ip, const bootp::Mac& mac)
{
    // Before anything is read: a system that cannot write says so, whatever the entry.
    if (const char* call = system.missingCall()) {
        return {ENOSYS, helper::Refusal::None, call};
    }
    Table table(system);
    const helper::EntryResult result =
        helper::writeUnlessOtherMac(table, {static_cast<std::int32_t>(ifindex), ip, mac});
    if (result.refusal != helper::Refusal::None || result.error == 0) {
        return {0, result.refusal, {}};
    }
    helper::Answer a = failedAnswer(table.failure);
    if (table.failure.code == NeighbourSystem::kAccessDenied) {
        a.reason = table.failure.call; // the words name the call (CardPort::words)
    }
    return a;
}

} // namespace winnet
