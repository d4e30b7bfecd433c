#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Fixed layout of a BOOTP message (RFC 951) with the DHCP magic cookie and option codes of
// RFC 2132. A message is the UDP payload as received; nothing here casts a struct over it.
namespace bootp {

/// op: 1 = BOOTREQUEST, 2 = BOOTREPLY.
inline constexpr std::size_t kOp = 0;
/// htype and hlen: hardware type and address length, never examined.
inline constexpr std::size_t kHtype = 1;
inline constexpr std::size_t kHlen = 2;
/// hops: non-zero once a relay agent has forwarded the request.
inline constexpr std::size_t kHops = 3;
/// xid: transaction id chosen by the client.
inline constexpr std::size_t kXid = 4;
/// secs and flags.
inline constexpr std::size_t kSecs = 8;
inline constexpr std::size_t kFlags = 10;
/// ciaddr: the client's own address, if it has one.
inline constexpr std::size_t kCiaddr = 12;
/// yiaddr: "your" address, the one the server gives.
inline constexpr std::size_t kYiaddr = 16;
/// siaddr: the replying server's address.
inline constexpr std::size_t kSiaddr = 20;
/// giaddr: relay agent address, 0 when the request came straight from the client.
inline constexpr std::size_t kGiaddr = 24;
/// chaddr: client hardware address field (16 bytes); the MAC is its first six.
inline constexpr std::size_t kChaddr = 28;
inline constexpr std::size_t kChaddrSize = 16;
inline constexpr std::size_t kMacSize = 6;
/// sname and file: server host name and boot file name.
inline constexpr std::size_t kSname = 44;
inline constexpr std::size_t kFile = 108;
/// options: magic cookie, then the options.
inline constexpr std::size_t kOptions = 236;
/// A card's options open with these ten bytes.
inline constexpr std::size_t kTemplateSize = 10;
/// Where the reply writes its own options (mask, router, end).
inline constexpr std::size_t kReplyOptions = kOptions + kTemplateSize;
inline constexpr std::size_t kReplyOptionsSize = 13;
/// One past the last byte that the request test or the reply touches.
inline constexpr std::size_t kTouchedEnd = kReplyOptions + kReplyOptionsSize;
/// RFC 951's minimum message size; shorter datagrams are never examined by the caller.
inline constexpr std::size_t kMinMessage = 300;
/// The longest datagram that counts as a card request: a BOOTP/DHCP client sends at most 576
/// bytes unless it announces that it takes more (RFC 2131 section 2), and a card does not.
/// Longer datagrams are never examined either, so no reply is ever sent in fragments.
inline constexpr std::size_t kMaxCardRequest = 576;

static_assert(kHops + 1 == kXid && kXid + 4 == kSecs && kSecs + 2 == kFlags);
static_assert(kFlags + 2 == kCiaddr && kCiaddr + 4 == kYiaddr && kYiaddr + 4 == kSiaddr);
static_assert(kSiaddr + 4 == kGiaddr && kGiaddr + 4 == kChaddr);
static_assert(kChaddr + kChaddrSize == kSname && kSname + 64 == kFile && kFile + 128 == kOptions);
static_assert(kTouchedEnd == 259 && kTouchedEnd <= kMinMessage);

/// RFC 2132 option codes used here.
inline constexpr std::uint8_t kOptSubnetMask = 1;
inline constexpr std::uint8_t kOptRouter = 3;
inline constexpr std::uint8_t kOptMessageType = 53;
inline constexpr std::uint8_t kOptClientId = 61;
inline constexpr std::uint8_t kOptEnd = 255;

inline constexpr std::uint8_t kBootRequest = 1;
inline constexpr std::uint8_t kBootReply = 2;

/// UDP ports of the boot protocol.
inline constexpr std::uint16_t kServerPort = 67;
inline constexpr std::uint16_t kClientPort = 68;

/// What opens the options of a card's request: the magic cookie, then a client-identifier
/// option of length 4 holding the card's vendor tag "kavo" instead of a hardware address.
inline constexpr std::array<std::uint8_t, kTemplateSize> kCardOptions{
    99,           130, 83,  99, // magic cookie 63 82 53 63
    kOptClientId, 4,            // client identifier, length 4
    'k',          'a', 'v', 'o' // vendor tag
};

} // namespace bootp
