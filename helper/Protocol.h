#pragma once

#include "Addresses.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

// The messages between a front-end (the windows, torvane-assign) and torvane-helper, one per
// SOCK_SEQPACKET datagram on their socketpair, and the fixed-size records between the
// helper's listener and its neighbour-table writer. Each kind is one struct; byte 0 of a
// link message is its tag, integers follow in the host's byte order (both ends run on the
// same machine), addresses in network order.
namespace helper {

/// The descriptor on which the helper finds its end of the socketpair.
inline constexpr int kLinkFd = 3;
/// Nothing longer crosses the link: a card request is at most kMaxRequest bytes.
inline constexpr std::size_t kMaxMessage = 1024;
/// The longest datagram that counts as a card request.
inline constexpr std::size_t kMaxRequest = 576;
/// A reply is accepted this long after its request was passed on.
inline constexpr int kReplyWindowSeconds = 180;
/// The most cards a search may name (Want); a search that names none wants every card.
inline constexpr std::size_t kMaxWanted = 65536;
/// Cards a search did not name that are still passed on, once each, so that a front-end can
/// report them (Request id 0).
inline constexpr std::size_t kMaxSeenOnly = 100;

using Bytes = std::vector<std::uint8_t>;
using bootp::Ipv4;
using bootp::Mac;

/// Why the helper refused a front-end's message.
enum class Refusal : std::int32_t {
    None = 0,
    Malformed = 1,       ///< not a message the helper knows
    UnknownRequest = 2,  ///< no request with that id is remembered
    AlreadyReplied = 3,  ///< that request has had its reply
    Expired = 4,         ///< the request is older than kReplyWindowSeconds
    ChangedBytes = 5,    ///< the reply is not its request turned into a reply
    BadAddress = 6,      ///< the address is not a unicast host address of its subnet
    BadMask = 7,         ///< the mask is zero or not contiguous
    BadGateway = 8,      ///< the gateway is not a host of the card's subnet
    BadServer = 9,       ///< siaddr is neither 0.0.0.0 nor an address of the arrival interface
    Outstanding = 10,    ///< another assignment still waits for its neighbour entry
    NotReplied = 11,     ///< a neighbour entry for a request that had no reply
    Mismatch = 12,       ///< the entry differs from the reply sent (address or MAC)
    LocalAddress = 13,   ///< an address of this PC
    SubnetEdge = 14,     ///< the network or broadcast address of a connected subnet
    GatewayAddress = 15, ///< the gateway of a route of this PC
    OtherMac = 16,       ///< the neighbour table maps the address to another MAC
    BadMac = 17,         ///< a multicast, broadcast or zero MAC
    KernelQuery = 18,    ///< the kernel's addresses, routes or neighbours could not be read
    InUse = 19,          ///< another device answered the ARP probe for the temporary address
};

/// Whether the card's next request can succeed where this one was refused, so that a
/// front-end should not give the card up.
bool refusalHeals(Refusal r);

// Front-end -> helper; each is answered with an Answer.
struct Listen {}; ///< pass card requests on
struct Pause {};  ///< pass nothing on; what arrives meanwhile is dropped
struct Reply {    ///< send this reply to a passed-on request
    std::uint32_t id = 0;
    Bytes datagram;
};
struct Neighbour { ///< write the neighbour entry for the reply just sent
    std::uint32_t id = 0;
    Ipv4 ip{};
    Mac mac{};
};
/// Give the arrival interface the temporary address `address` (bootp/Temporary.h) and a host
/// route to the card of the reply just sent, while the search lasts; the kernel drops both
/// after `lifetime` seconds unless the helper renews them.
struct Temporary {
    std::uint32_t id = 0;
    Ipv4 address{};
    std::uint32_t lifetime = 0;
};
struct Finish { ///< the assignment of the reply just sent ends without a neighbour entry
    std::uint32_t id = 0;
};

struct Want { ///< pass on only these cards' requests (with those named before)
    std::vector<Mac> macs;
};
/// The MACs one Want message holds: as many as fit in a link message after the command's
/// serial and the tag.
inline constexpr std::size_t kWantedPerMessage =
    (kMaxMessage - sizeof(std::uint32_t) - 1) / sizeof(Mac);

// Helper -> front-end.
struct Bound { ///< the outcome of binding port 67: 0 or an errno
    std::int32_t error = 0;
};
struct Request { ///< a card request, with the interface it arrived on
    /// 0 for a card the search did not name, passed on only to be reported: it is not kept,
    /// and no reply can answer it.
    std::uint32_t id = 0;
    std::int32_t ifindex = 0;
    Bytes datagram;
};
struct Answer { ///< done, a kernel error (errno), or a refusal; never both
    std::int32_t error = 0;
    Refusal refusal = Refusal::None;
    std::string reason;       ///< English
    std::uint32_t serial = 0; ///< the Command's it answers
    bool ok() const { return error == 0 && refusal == Refusal::None; }
    bool refused() const { return refusal != Refusal::None; }
};

using ToHelper = std::variant<Listen, Pause, Reply, Neighbour, Finish, Want, Temporary>;
using FromHelper = std::variant<Bound, Request, Answer>;

Bytes encode(const ToHelper& m);
Bytes encode(const FromHelper& m);
/// Decoders for what the other end sent; nullopt for anything malformed: an unknown tag, a
/// wrong length, or a datagram outside the sizes a card request can have.
std::optional<ToHelper> decodeToHelper(std::span<const std::uint8_t> data);
std::optional<FromHelper> decodeFromHelper(std::span<const std::uint8_t> data);

/// What a front-end sends: a message and the serial its Answer repeats, so that an answer that
/// comes after its command stopped waiting is never taken for a later command's. On the link
/// the serial comes first, then the message as encode(ToHelper) writes it.
struct Command {
    std::uint32_t serial = 0;
    ToHelper message;
};
Bytes encode(const Command& c);
std::optional<Command> decodeCommand(std::span<const std::uint8_t> data);
/// The serial of a front-end's datagram, well-formed or not (0 when too short for one), so
/// that the refusal of a malformed message still names its command.
std::uint32_t serialOf(std::span<const std::uint8_t> data);

/// Listener -> writer: write this permanent neighbour entry. A fixed-size record.
struct EntryRecord {
    std::int32_t ifindex = 0;
    Ipv4 ip{};
    Mac mac{};
    std::array<std::uint8_t, 2> zero{}; ///< padding, must be zero
};
static_assert(sizeof(EntryRecord) == 16);

/// The lifetime the helper gives a temporary address: a front-end may ask for less (a test
/// that kills the helper), never more, so that nothing outlives a killed helper for long.
inline constexpr std::uint32_t kTemporaryLifetime = 180;
inline constexpr std::uint32_t kMinTemporaryLifetime = 6;

/// Listener -> writer: add this temporary address and the host route to the card through it.
/// A fixed-size record, told from an EntryRecord by its size and its kind.
struct TemporaryRecord {
    std::uint32_t kind = kKind;
    std::int32_t ifindex = 0;
    bootp::Ipv4 card{};    ///< the card's new address
    bootp::Ipv4 mask{};    ///< its mask
    bootp::Ipv4 gateway{}; ///< its gateway, 0.0.0.0 for none
    bootp::Ipv4 address{}; ///< the temporary address
    std::uint32_t lifetime = 0;
    static constexpr std::uint32_t kKind = 0x54454d50; // "TEMP"
};
static_assert(sizeof(TemporaryRecord) == 28 && sizeof(TemporaryRecord) != sizeof(EntryRecord));

/// Writer -> listener: what became of it.
struct EntryResult {
    std::int32_t error = 0;
    Refusal refusal = Refusal::None;
};
static_assert(sizeof(EntryResult) == 8);

} // namespace helper
