#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The messages between a front-end (the windows, torvane-assign) and torvane-helper, one
// per SOCK_SEQPACKET datagram on their socketpair. Byte 0 is the tag; integers follow in the
// host's byte order (both ends run on the same machine), addresses in network order.
namespace helper {

/// The descriptor on which the helper finds its end of the socketpair.
inline constexpr int kLinkFd = 3;
/// Nothing longer crosses the link: a card request is at most kMaxRequest bytes.
inline constexpr std::size_t kMaxMessage = 1024;
/// The longest datagram that counts as a card request.
inline constexpr std::size_t kMaxRequest = 576;
/// A reply is accepted this long after its request was passed on.
inline constexpr int kReplyWindowSeconds = 180;

enum class Tag : std::uint8_t {
    // front-end -> helper; each is answered with Answer
    Listen = 'L',    ///< pass card requests on
    Pause = 'P',     ///< pass nothing on; what arrives meanwhile is dropped
    Reply = 'S',     ///< u32 id, then the reply's bytes
    Neighbour = 'N', ///< u32 id, ip[4], mac[6]
    // helper -> front-end
    Bound = 'B',   ///< i32 errno of binding port 67, 0 when bound
    Request = 'Q', ///< u32 id, i32 arrival ifindex, then the request's bytes
    Answer = 'A',  ///< i32 code (0 done, > 0 errno, < 0 a Refusal), then an English reason
};

/// Why the helper refused a front-end's message.
enum class Refusal : std::int32_t {
    Malformed = -1,       ///< not a message the helper knows
    UnknownRequest = -2,  ///< no request with that id was passed on
    AlreadyReplied = -3,  ///< that request has had its reply
    Expired = -4,         ///< the request is older than kReplyWindowSeconds
    ChangedBytes = -5,    ///< the reply differs from its request outside the reply's fields
    BadAddress = -6,      ///< the address is not a unicast host address
    BadMask = -7,         ///< the mask is not contiguous
    BadGateway = -8,      ///< the gateway lies outside the card's subnet
    BadServer = -9,       ///< siaddr is neither 0.0.0.0 nor an address of this PC
    Outstanding = -10,    ///< another assignment still waits for its neighbour entry
    NotReplied = -11,     ///< a neighbour entry for a request that had no reply
    Mismatch = -12,       ///< the entry differs from the reply sent (address or MAC)
    LocalAddress = -13,   ///< an address of this PC
    SubnetEdge = -14,     ///< the network or broadcast address of a connected subnet
    GatewayAddress = -15, ///< the gateway of a route of this PC
    OtherMac = -16,       ///< the neighbour table maps the address to another MAC
    BadMac = -17,         ///< a multicast, broadcast or zero MAC
};

using Bytes = std::vector<std::uint8_t>;
using Ipv4 = std::array<std::uint8_t, 4>;
using Mac = std::array<std::uint8_t, 6>;

/// One decoded message. Fields not used by a tag stay zero or empty.
struct Message {
    explicit Message(Tag t = Tag::Answer) : tag(t) {}
    Tag tag;
    std::uint32_t id = 0;
    std::int32_t number = 0; ///< ifindex (Request), errno (Bound), code (Answer)
    Ipv4 ip{};
    Mac mac{};
    Bytes bytes;      ///< datagram (Request, Reply)
    std::string text; ///< reason (Answer)
};

Bytes encode(const Message& m);
/// Decodes a message received from the other end; nullopt for anything malformed: unknown
/// tag, wrong length, or a datagram outside the sizes a card request can have.
std::optional<Message> decode(std::span<const std::uint8_t> data);

const char* refusalText(Refusal r);

} // namespace helper
