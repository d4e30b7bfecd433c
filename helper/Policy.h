#pragma once

#include "Protocol.h"

#include <optional>
#include <span>
#include <vector>

// What the helper lets through, as pure functions over the message bytes and a snapshot of
// this PC's addresses and routes, so that every rule can be tested without privileges.
namespace helper {

/// This PC as the checks need it: every IPv4 address with its prefix length, and the gateway
/// of every route.
struct NetFacts {
    struct Address {
        Ipv4 ip{};
        int prefix = 32;
    };
    std::vector<Address> addresses;
    std::vector<Ipv4> gateways;
};

/// A datagram is passed on to the front-end only if it is a card request (300 to 576 bytes),
/// came from port 68 on an interface other than loopback and names a unicast MAC.
bool passOn(std::span<const std::uint8_t> datagram, std::uint16_t sourcePort, bool loopback);

/// Refuses an address that no card may be given, nor written into the neighbour table.
std::optional<Refusal> checkAddress(const Ipv4& ip, const NetFacts& facts);

/// Refuses a reply that differs from its request elsewhere than op, yiaddr, siaddr and the
/// options at 246 to 258, or that carries addresses no card should get.
std::optional<Refusal> checkReply(std::span<const std::uint8_t> request,
                                  std::span<const std::uint8_t> reply, const NetFacts& facts);

/// The requests passed on, and the one assignment that may be outstanding.
class Ledger {
public:
    struct Entry {
        std::uint32_t id = 0;
        int ifindex = 0;
        double received = 0;
        Bytes request;
        bool replied = false;
        Ipv4 yiaddr{};
    };

    /// Keeps a passed-on request; returns its id.
    std::uint32_t remember(Bytes request, int ifindex, double now);
    /// The request a reply may answer, or why not.
    std::optional<Refusal> mayReply(std::uint32_t id, double now) const;
    void replied(std::uint32_t id, const Ipv4& yiaddr);
    /// The request whose neighbour entry may be written now, or why not.
    std::optional<Refusal> mayWriteNeighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac,
                                             double now) const;
    /// Ends the assignment of id, whatever became of its entry.
    void finished(std::uint32_t id);
    const Entry* find(std::uint32_t id) const;

private:
    static constexpr std::size_t kKept = 64;
    std::vector<Entry> m_entries; // a ring of the last kKept requests
    std::size_t m_next = 0;
    std::uint32_t m_lastId = 0;
    std::uint32_t m_outstanding = 0; // id of a replied request still waiting for its entry
};

} // namespace helper
