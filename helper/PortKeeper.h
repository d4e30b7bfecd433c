#pragma once

#include "Policy.h"

#include <cstdint>
#include <optional>
#include <span>

// The holder of port 67, once for both platforms: which datagrams become requests, and the
// order of the steps before a reply leaves or a neighbour entry is written. torvane-helper's
// listener and writer on Linux and CardPort on Windows give it their system calls through
// the seams below; it makes none itself.
namespace helper {

/// This PC's addresses and the gateways of its routes, read now.
class HostSource {
public:
    virtual ~HostSource() = default;
    /// False when they could not be read: every check then refuses.
    virtual bool hostFacts(HostFacts& out) = 0;
};

/// What differs per platform on the listener's side.
class PortSeams : public HostSource {
public:
    /// Seconds on a clock that never goes back.
    virtual double now() = 0;
    /// Broadcasts a checked reply out of interface ifindex; done or a failure.
    virtual Answer send(std::span<const std::uint8_t> reply, int ifindex) = 0;
    /// Has the neighbour entry written; done, a refusal or a failure.
    virtual Answer writeEntry(const EntryRecord& record) = 0;
};

/// The neighbour entry for one address on one interface, as the writer reads it.
struct NeighbourEntry {
    bool present = false;
    /// It holds a MAC worth keeping (not one still resolving or unreachable).
    bool hasMac = false;
    Mac mac{};
    bool permanent = false;
};

/// The neighbour table as a writer sees it.
class EntryTable {
public:
    virtual ~EntryTable() = default;
    /// False when the table could not be read.
    virtual bool read(int ifindex, const Ipv4& ip, NeighbourEntry& out) = 0;
    /// Makes the entry permanent with the record's MAC, given what read found before; a
    /// refusal of OtherMac when another MAC took the address meanwhile.
    virtual EntryResult write(const EntryRecord& record, const NeighbourEntry& before) = 0;
};

class PortKeeper {
public:
    explicit PortKeeper(PortSeams& seams) : m_seams(seams) {}

    /// Whether datagrams are passed on; a paused port passes nothing.
    void setListening(bool on) { m_listening = on; }
    bool listening() const { return m_listening; }

    /// A datagram that arrived for port 67 on ifindex from source:sourcePort: the request to
    /// pass on, or nullopt when it is not a card's.
    std::optional<Request> arrived(std::span<const std::uint8_t> datagram, int ifindex,
                                   const Ipv4& source, std::uint16_t sourcePort, bool loopback);
    /// Sends the reply to a passed-on request, after the ledger and the host allow it.
    Answer reply(std::uint32_t id, std::span<const std::uint8_t> datagram);
    /// Has the entry of the reply just sent written, after the ledger and the host allow it.
    Answer neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac);

    const Ledger& ledger() const { return m_ledger; }

private:
    PortSeams& m_seams;
    Ledger m_ledger;
    bool m_listening = false;
};

/// Writes the entry unless the table maps its address to another MAC: the writer's part,
/// for a writer in the process that checked the entry against the host.
EntryResult writeUnlessOtherMac(EntryTable& table, const EntryRecord& record);

/// The writer's re-check in a process of its own: the entry against the host as it is now,
/// then writeUnlessOtherMac.
EntryResult writeChecked(HostSource& host, EntryTable& table, const EntryRecord& record);

} // namespace helper
