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

    helper::EntryResult write(const helper::EntryRecord& r, const NeighbourEntry& first) override
    {
        // Windows has no "create unless another MAC holds it" in one call, and SetIpNetEntry2
        // writes over whatever the entry holds by then. So it is only used on an entry that
        // already holds the card's MAC; where there is none, CreateIpNetEntry2 fails if one
        // appeared meanwhile, and the entry is read again and decided on afresh. An entry
        // without a MAC (still resolving, or failed) is removed first. The entry read back
        // afterwards has the last word.
        const auto ifindex = static_cast<unsigned long>(r.ifindex);
        NeighbourEntry before = first;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (before.hasMac) {
                if (before.mac != r.mac) {
                    return {0, helper::Refusal::OtherMac};
                }
                if (before.permanent) {
                    return {};
                }
                if (const auto set = m_system.makePermanent(ifindex, r.ip, r.mac); !set) {
                    return failed(set.failure());
                }
                break;
            }
            if (before.present) {
                const auto removed = m_system.remove(ifindex, r.ip);
                if (!removed && removed.failure().code != NeighbourSystem::kNotFound) {
                    return failed(removed.failure());
                }
                if (!read(r.ifindex, r.ip, before)) {
                    return {0, helper::Refusal::KernelQuery};
                }
                if (before.present) {
                    continue; // something came in between: decided on afresh
                }
            }
            const auto created = m_system.create(ifindex, r.ip, r.mac);
            if (created) {
                break;
            }
            if (created.failure().code != NeighbourSystem::kAlreadyExists) {
                return failed(created.failure());
            }
            if (!read(r.ifindex, r.ip, before)) {
                return {0, helper::Refusal::KernelQuery};
            }
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
    helper::EntryResult failed(const Failure& f)
    {
        failure = f;
        return {EIO, helper::Refusal::None};
    }

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
