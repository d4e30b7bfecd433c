#pragma once

#include "Policy.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>

// The holder of port 67, once for both platforms: which datagrams become requests, and the
// order of the checks before a reply leaves or a neighbour entry is written. torvane-helper's
// listener and writer and Windows' CardPort give it their system calls through these seams.
namespace helper {

class HostSource {
public:
    virtual ~HostSource() = default;
    /// This PC's addresses and routes' gateways as they are now; false when they could not be
    /// read, and every check then refuses.
    virtual bool hostFacts(HostFacts& out) = 0;
};

class PortSeams : public HostSource {
public:
    /// Seconds on a clock that never goes back.
    virtual double now() = 0;
    /// Broadcasts a checked reply out of interface ifindex.
    virtual Answer send(std::span<const std::uint8_t> reply, int ifindex) = 0;
    /// Has a checked neighbour entry written.
    virtual Answer writeEntry(const EntryRecord& record) = 0;
    /// Has a checked temporary address and its host route added; a platform that cannot
    /// refuses.
    virtual Answer addTemporary(const TemporaryRecord&)
    {
        return {EOPNOTSUPP, Refusal::None, "not supported here"};
    }
};

/// The neighbour entry for one address on one interface, as a writer reads it.
struct NeighbourEntry {
    bool present = false;
    bool hasMac = false; ///< a MAC worth keeping (not one still resolving or unreachable)
    Mac mac{};
    bool permanent = false;
};

class EntryTable {
public:
    virtual ~EntryTable() = default;
    /// False when the table could not be read.
    virtual bool read(int ifindex, const Ipv4& ip, NeighbourEntry& out) = 0;
    /// Makes the entry permanent with the record's MAC, knowing what read found; refuses with
    /// OtherMac when another MAC took the address meanwhile.
    virtual EntryResult write(const EntryRecord& record, const NeighbourEntry& before) = 0;
};

class PortKeeper {
public:
    explicit PortKeeper(PortSeams& seams) : m_seams(seams) {}

    /// A paused port passes nothing on.
    void setListening(bool on) { m_listening = on; }
    bool listening() const { return m_listening; }

    /// Names more of the cards the search is for (at most kMaxWanted in all; refused beyond,
    /// with the set unchanged). While none is named, every card is wanted.
    Answer want(std::span<const Mac> macs);
    /// Whether a card request (passOn's size at least) names a wanted card's MAC.
    bool wants(std::span<const std::uint8_t> datagram) const;
    /// Whether an unwanted card's request would still be passed on to be reported: its MAC
    /// is not among the kMaxSeenOnly already reported, and there is room for it.
    bool mayReport(std::span<const std::uint8_t> datagram) const;

    /// A datagram for port 67 and how it arrived: the request to pass on, or nullopt when it
    /// is not a card's. An unwanted card's comes with id 0, the first time only and for
    /// kMaxSeenOnly cards at most, and is not kept.
    std::optional<Request> arrived(std::span<const std::uint8_t> datagram, const Arrival& arrival);
    Answer reply(std::uint32_t id, std::span<const std::uint8_t> datagram);
    Answer neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac);
    /// A temporary address for the card of the outstanding assignment id; the assignment
    /// stays outstanding until its neighbour entry.
    Answer temporary(std::uint32_t id, const Ipv4& address, std::uint32_t lifetime);
    /// Ends the assignment of id without an entry (the card lies outside the interface's
    /// networks, say), so that the next card's reply is not refused as Outstanding.
    Answer finish(std::uint32_t id);

private:
    PortSeams& m_seams;
    Ledger m_ledger;
    bool m_listening = false;
    // The wanted MACs as numbers. Requests of other cards never reach the ledger, so they
    // cannot push a wanted card's requests out of it.
    std::unordered_set<std::uint64_t> m_wanted;
    std::unordered_set<std::uint64_t> m_reported; // unwanted MACs passed on, kMaxSeenOnly at most
};

/// Writes the entry unless the table maps its address to another MAC: the writer's part in
/// the process that checked the entry against the host.
EntryResult writeUnlessOtherMac(EntryTable& table, const EntryRecord& record);

/// The writer's re-check in a process of its own: the entry against the host as it is now,
/// then writeUnlessOtherMac.
EntryResult writeChecked(HostSource& host, EntryTable& table, const EntryRecord& record);

/// The temporary address against the card rules and the host as it is now: nullopt when it
/// may be added (what the wire says of it is the probe's to find out).
std::optional<Refusal> checkTemporary(const TemporaryRecord& record, const HostFacts& host);

} // namespace helper
