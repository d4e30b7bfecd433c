#pragma once

#include "BootMessage.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a simulated card sends and how it judges the answer: pure functions over byte
// vectors, no sockets, so that the tests can drive them.
namespace cardsim {

using Bytes = std::vector<std::uint8_t>;
using Mac = std::array<std::uint8_t, bootp::kMacSize>;
using Octets = std::array<std::uint8_t, 4>;

/// A unicast, locally administered MAC (IEEE 802: bit 0 of the first byte clear, bit 1 set)
/// made from random bits, so that a simulated card never poses as a real vendor's device.
Mac localMac(std::uint64_t randomBits);

/// `base` plus `offset`, counted as one 48-bit number; nothing when the sum would change the
/// first byte, which holds the group and local bits.
std::optional<Mac> macPlus(const Mac& base, std::uint32_t offset);

/// The MAC a flood datagram with this xid carries. Made from xid and the run's `key`, so that a
/// reply to a flood client can be recognised without remembering every datagram sent.
Mac floodMac(std::uint32_t xid, std::uint64_t key);

/// Whether `datagram` is a BOOTREPLY to one of the flood's clients: op 2 and a chaddr that is
/// floodMac of its xid.
bool answersFlood(std::span<const std::uint8_t> datagram, std::uint64_t key);

/// Reads a MAC in any form operators paste (bootp::parseMac); nothing for any other text.
std::optional<Mac> parseMac(std::string_view text);

/// Six upper-case hex pairs joined by "-", the form the PC shows.
std::string formatMac(const Mac& mac);

/// The four numbers in decimal joined by ".".
std::string dotted(const Octets& address);

/// The card's boot request: op 1, Ethernet, no hops, no relay, the broadcast flag (the card
/// has no address to receive a unicast on), the MAC in chaddr, the card's ten option bytes
/// and an end option, zero padding up to `length` (at least the BOOTP minimum of 300).
Bytes buildCardRequest(std::uint32_t xid, const Mac& mac, std::size_t length);

/// Another client's DHCPDISCOVER (RFC 2132 option 53 first), which no card server accepts.
Bytes buildDiscover(std::uint32_t xid, const Mac& mac, std::size_t length);

/// Rewrites xid and MAC of a message built by the two functions above.
void restamp(std::span<std::uint8_t> message, std::uint32_t xid, const Mac& mac);

/// message as a card without an address sends it: an IPv4 packet from 0.0.0.0 port 68 to
/// 255.255.255.255 port 67, with right header and UDP checksums, ready for an Ethernet
/// broadcast frame.
Bytes broadcastPacket(std::span<const std::uint8_t> message);

/// The transaction id of a message, if it is long enough to hold one.
std::optional<std::uint32_t> xidOf(std::span<const std::uint8_t> message);

/// What the reply gave the card.
struct Assignment {
    Octets address{};
    Octets mask{};
    Octets gateway{};
    Octets server{};
};

/// The first thing that is wrong with a reply, in the order the checks run.
enum class ReplyFault {
    None,
    Length,       // not the request's length
    Op,           // not a BOOTREPLY
    Xid,          // another transaction
    Chaddr,       // another client's hardware address
    MaskOption,   // option 1 of length 4 missing at 246
    RouterOption, // option 3 of length 4 missing at 252
    EndOption,    // option 255 missing at 258
    Address,      // yiaddr 0.0.0.0: nothing was assigned
    Changed,      // (strict) a byte the server has no reason to touch differs
};

/// A short token for a fault ("op", "mask-option", ...), for machine-readable output.
const char* faultName(ReplyFault fault);

struct ReplyCheck {
    ReplyFault fault = ReplyFault::None;
    std::string message; // for the operator; empty when the reply is valid
    Assignment assignment;
    // False when the reply was taken only because checkReplyAnyLayout found the options
    // elsewhere; layoutMessage then says what the card itself would have refused.
    bool cardLayout = true;
    ReplyFault layoutFault = ReplyFault::None;
    std::string layoutMessage;

    bool ok() const { return fault == ReplyFault::None; }
};

/// Judges `reply` as the answer to `request`. Strict also requires every byte other than op,
/// yiaddr, siaddr and the thirteen reply option bytes to be as the card sent it.
ReplyCheck checkReply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply,
                      bool strict = false);

/// As checkReply, but a reply the card would refuse only for its length or for where its
/// options stand is taken the way a general DHCP client takes it: the request's op, xid and
/// chaddr, the magic cookie, and a subnet mask (1, length 4) and a router (3, length 4 or more;
/// the first router counts) anywhere in the option list.
ReplyCheck checkReplyAnyLayout(std::span<const std::uint8_t> request,
                               std::span<const std::uint8_t> reply, bool strict = false);

/// The nearest-rank percentile (0 < q <= 1) of `values`; 0 when there are none.
double percentile(std::vector<double> values, double q);

/// The prefix length of a contiguous mask (255.255.255.0 gives 24); nothing for a mask with
/// holes, which cannot be put on an interface.
std::optional<int> prefixLength(const Octets& mask);

/// Spreads `total` datagrams evenly over time: datagram i is due i / rate seconds after the
/// start. A sender that fell behind gets all overdue datagrams at once, so the count over the
/// whole run stays exact.
class Pacer {
public:
    using Duration = std::chrono::nanoseconds;

    Pacer(double ratePerSecond, Duration length);

    /// How many datagrams the whole run sends.
    std::uint64_t total() const { return total_; }
    std::uint64_t sent() const { return sent_; }
    bool done() const { return sent_ >= total_; }

    /// How many are due but not yet sent at `elapsed` since the start.
    std::uint64_t due(Duration elapsed) const;
    /// When the next datagram is due, measured from the start.
    Duration nextDue() const;
    void markSent(std::uint64_t count) { sent_ += count; }

private:
    double rate_;
    std::uint64_t total_;
    std::uint64_t sent_ = 0;
};

} // namespace cardsim
