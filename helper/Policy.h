#pragma once

#include "Protocol.h"
#include "Rules.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// What the helper lets through, as pure functions over the message bytes and a snapshot of
// this PC's addresses and routes, so that every rule can be tested without privileges. The
// card rules themselves are bootp's; this adds what only the helper knows.
namespace helper {

using bootp::HostFacts;

/// How a datagram for port 67 reached this PC, as the socket that read it tells.
struct Arrival {
    int ifindex = 0;
    Ipv4 source{};
    Ipv4 destination{};
    std::uint16_t sourcePort = 0;
    bool loopback = false; ///< the interface is loopback, or could not be looked up
};

/// A datagram is passed on to the front-end only if it is what a card without an address
/// sends on the wire the PC is plugged into: a card request (300 to 576 bytes) naming a
/// unicast MAC, from 0.0.0.0 port 68 to 255.255.255.255, on an interface other than
/// loopback. Anything else (a routed datagram, a unicast, a sender with an address, this PC's
/// own broadcasts) is not a factory-fresh card's.
bool passOn(std::span<const std::uint8_t> datagram, const Arrival& arrival);

/// Refuses a reply that is not exactly its request turned into a reply, that gives the card
/// settings the card rules refuse or an address that clashes with this PC, or that names a
/// server (siaddr) other than 0.0.0.0 or an address of the interface the request came in on.
std::optional<Refusal> checkReply(std::span<const std::uint8_t> request,
                                  std::span<const std::uint8_t> reply, int arrivalIfindex,
                                  const HostFacts& host);

/// Refuses a neighbour entry that no card may have: a zero or group MAC, an address that is
/// no unicast host's or that clashes with this PC. The writer checks this again itself.
std::optional<Refusal> checkEntry(const Ipv4& ip, const Mac& mac, const HostFacts& host);

/// The requests passed on, and the one assignment that may be outstanding. Each card's
/// latest requests are kept, so a card of a large burst is never forgotten while it still
/// asks; the oldest card's requests go first when the ledger is full.
class Ledger {
public:
    /// Requests kept per card: a card repeats its request every second or two, and a reply
    /// may answer a slightly older one.
    static constexpr std::size_t kPerCard = 4;
    /// Requests kept in all: a rack of cards powering up at once fits many times.
    static constexpr std::size_t kKept = 4096;

    struct Entry {
        std::uint32_t id = 0;
        int ifindex = 0;
        double received = 0;
        Bytes request;
        Mac mac{};
        bool replied = false;
        Ipv4 yiaddr{};
        Ipv4 mask{}; ///< the mask and gateway the reply gave the card
        Ipv4 gateway{};
    };

    /// Keeps a passed-on request; returns its id.
    std::uint32_t remember(Bytes request, int ifindex, double now);
    /// The request a reply may answer, or why not.
    std::optional<Refusal> mayReply(std::uint32_t id, double now) const;
    void replied(std::uint32_t id, const Ipv4& yiaddr, const Ipv4& mask = {},
                 const Ipv4& gateway = {});
    /// Whether the card of id may be reached through a temporary address now: only while its
    /// assignment is outstanding.
    std::optional<Refusal> mayAddTemporary(std::uint32_t id, double now) const;
    /// The request whose neighbour entry may be written now, or why not.
    std::optional<Refusal> mayWriteNeighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac,
                                             double now) const;
    /// Ends the assignment of id, whatever became of its entry.
    void finished(std::uint32_t id);
    /// Whether id is the assignment still waiting for its entry, which may end without one.
    std::optional<Refusal> mayFinish(std::uint32_t id) const;
    const Entry* find(std::uint32_t id) const;
    std::size_t size() const { return m_entries.size(); }

private:
    void forgetOne(const Mac* sameCard);

    std::vector<Entry> m_entries; // in the order they were received
    std::uint32_t m_lastId = 0;
    std::uint32_t m_outstanding = 0; // id of a replied request still waiting for its entry
};

} // namespace helper
