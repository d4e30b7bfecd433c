#include "CardSim.h"

#include "Addresses.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace bootp;

namespace cardsim {

namespace {

void put32(std::span<std::uint8_t> message, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        message[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

Octets get4(std::span<const std::uint8_t> message, std::size_t offset)
{
    return {message[offset], message[offset + 1], message[offset + 2], message[offset + 3]};
}

// The fixed part of every client message: op 1, Ethernet, 6-byte address, no hops.
Bytes clientMessage(std::uint32_t xid, const Mac& mac, std::size_t length)
{
    Bytes m(std::max(length, kMinMessage), 0);
    m[kOp] = kBootRequest;
    m[kHtype] = 1;
    m[kHlen] = kMacSize;
    m[kHops] = 0;
    m[kFlags] = 0x80; // broadcast flag (RFC 1542)
    restamp(m, xid, mac);
    return m;
}

} // namespace

Mac localMac(std::uint64_t randomBits)
{
    Mac mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        mac[i] = static_cast<std::uint8_t>(randomBits >> (8 * i));
    }
    mac[0] = static_cast<std::uint8_t>((mac[0] & 0xFC) | 0x02);
    if (std::all_of(mac.begin() + 1, mac.end(), [](std::uint8_t b) { return b == 0; })) {
        mac[5] = 1; // keep clear of anything that looks unset
    }
    return mac;
}

std::optional<Mac> macPlus(const Mac& base, std::uint32_t offset)
{
    std::uint64_t value = 0;
    for (std::uint8_t b : base) {
        value = (value << 8) | b;
    }
    value += offset;
    Mac mac{};
    for (std::size_t i = mac.size(); i-- > 0; value >>= 8) {
        mac[i] = static_cast<std::uint8_t>(value);
    }
    if (value != 0 || mac[0] != base[0]) {
        return std::nullopt;
    }
    return mac;
}

Mac floodMac(std::uint32_t xid, std::uint64_t key)
{
    // splitmix64's finaliser: every bit of xid and key reaches every bit of the MAC.
    std::uint64_t z = key + 0x9E3779B97F4A7C15ull * (std::uint64_t{xid} + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return localMac(z ^ (z >> 31));
}

bool answersFlood(std::span<const std::uint8_t> datagram, std::uint64_t key)
{
    if (datagram.size() < kChaddr + kMacSize || datagram[kOp] != kBootReply) {
        return false;
    }
    const Mac mac = floodMac(*xidOf(datagram), key);
    return std::equal(mac.begin(), mac.end(), datagram.begin() + kChaddr);
}

std::optional<Mac> parseMac(std::string_view text)
{
    return bootp::parseMac(text);
}

std::string formatMac(const Mac& mac)
{
    return bootp::macText(mac);
}

std::string dotted(const Octets& a)
{
    return bootp::ipText(a);
}

Bytes buildCardRequest(std::uint32_t xid, const Mac& mac, std::size_t length)
{
    Bytes m = clientMessage(xid, mac, length);
    std::copy(kCardOptions.begin(), kCardOptions.end(), m.begin() + kOptions);
    m[kReplyOptions] = kOptEnd; // where the server writes its options; the rest is padding
    return m;
}

Bytes buildDiscover(std::uint32_t xid, const Mac& mac, std::size_t length)
{
    Bytes m = clientMessage(xid, mac, length);
    const std::uint8_t options[] = {
        99,
        130,
        83,
        99, // magic cookie
        kOptMessageType,
        1,
        1, // DHCPDISCOVER
        kOptClientId,
        7,
        1, // client identifier: type Ethernet, then the MAC
        0,
        0,
        0,
        0,
        0,
        0,
        kOptEnd, // (MAC filled below)
    };
    std::copy(std::begin(options), std::end(options), m.begin() + kOptions);
    std::copy(mac.begin(), mac.end(), m.begin() + kOptions + 10);
    return m;
}

void restamp(std::span<std::uint8_t> message, std::uint32_t xid, const Mac& mac)
{
    put32(message, kXid, xid);
    std::copy(mac.begin(), mac.end(), message.begin() + kChaddr);
    if (message[kOptions + 4] == kOptMessageType) {
        std::copy(mac.begin(), mac.end(), message.begin() + kOptions + 10);
    }
}

Bytes broadcastPacket(std::span<const std::uint8_t> message)
{
    constexpr std::size_t kIp = 20;
    constexpr std::size_t kUdp = 8;
    const std::size_t udpLength = kUdp + message.size();
    const std::size_t total = kIp + udpLength;
    Bytes p(total, 0);
    const auto put16 = [&](std::size_t at, std::size_t v) {
        p[at] = static_cast<std::uint8_t>(v >> 8);
        p[at + 1] = static_cast<std::uint8_t>(v);
    };
    // RFC 1071's sum over [from, to), starting at start, not yet complemented.
    const auto sum = [&](std::size_t from, std::size_t to, std::uint32_t start) {
        std::uint32_t s = start;
        for (std::size_t i = from; i < to; i += 2) {
            s += std::uint32_t(p[i]) << 8 | (i + 1 < to ? p[i + 1] : 0);
        }
        while (s >> 16) {
            s = (s & 0xFFFF) + (s >> 16);
        }
        return s;
    };
    p[0] = 0x45; // IPv4, a 20-byte header
    put16(2, total);
    p[8] = 64;                                       // time to live
    p[9] = 17;                                       // UDP
    std::fill(p.begin() + 16, p.begin() + 20, 0xFF); // to 255.255.255.255; from 0.0.0.0
    put16(10, ~sum(0, kIp, 0) & 0xFFFF);
    put16(kIp, kClientPort);
    put16(kIp + 2, kServerPort);
    put16(kIp + 4, udpLength);
    std::copy(message.begin(), message.end(), p.begin() + kIp + kUdp);
    // RFC 768: the pseudo header (addresses, protocol, length), then the datagram.
    const std::uint32_t pseudo = sum(12, 20, 17 + static_cast<std::uint32_t>(udpLength));
    const std::uint32_t udpSum = ~sum(kIp, total, pseudo) & 0xFFFF;
    put16(kIp + 6, udpSum == 0 ? 0xFFFF : udpSum);
    return p;
}

std::optional<std::uint32_t> xidOf(std::span<const std::uint8_t> message)
{
    if (message.size() < kXid + 4) {
        return std::nullopt;
    }
    std::uint32_t xid = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        xid = (xid << 8) | message[kXid + i];
    }
    return xid;
}

const char* faultName(ReplyFault fault)
{
    switch (fault) {
    case ReplyFault::None:
        return "none";
    case ReplyFault::Length:
        return "length";
    case ReplyFault::Op:
        return "op";
    case ReplyFault::Xid:
        return "xid";
    case ReplyFault::Chaddr:
        return "chaddr";
    case ReplyFault::MaskOption:
        return "mask-option";
    case ReplyFault::RouterOption:
        return "router-option";
    case ReplyFault::EndOption:
        return "end-option";
    case ReplyFault::Address:
        return "address";
    case ReplyFault::Changed:
        return "changed";
    }
    return "unknown";
}

ReplyCheck checkReply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply,
                      bool strict)
{
    ReplyCheck check;
    auto fail = [&check](ReplyFault fault, std::string message) {
        check.fault = fault;
        check.message = std::move(message);
        return check;
    };
    if (reply.size() != request.size() || reply.size() < kTouchedEnd) {
        return fail(ReplyFault::Length, "the reply is " + std::to_string(reply.size()) +
                                            " bytes long, the request was " +
                                            std::to_string(request.size()));
    }
    if (reply[kOp] != kBootReply) {
        return fail(ReplyFault::Op, "op is " + std::to_string(reply[kOp]) + ", not 2 (BOOTREPLY)");
    }
    if (!std::equal(request.begin() + kXid, request.begin() + kXid + 4, reply.begin() + kXid)) {
        return fail(ReplyFault::Xid, "xid differs from the request's");
    }
    if (!std::equal(request.begin() + kChaddr, request.begin() + kChaddr + kChaddrSize,
                    reply.begin() + kChaddr)) {
        return fail(ReplyFault::Chaddr, "chaddr differs from the request's");
    }
    const std::size_t mask = kReplyOptions;
    const std::size_t router = mask + 6;
    const std::size_t end = router + 6;
    if (reply[mask] != kOptSubnetMask || reply[mask + 1] != 4) {
        return fail(ReplyFault::MaskOption, "no subnet mask option (1, length 4) at offset 246");
    }
    if (reply[router] != kOptRouter || reply[router + 1] != 4) {
        return fail(ReplyFault::RouterOption, "no router option (3, length 4) at offset 252");
    }
    if (reply[end] != kOptEnd) {
        return fail(ReplyFault::EndOption, "no end option (255) at offset 258");
    }
    check.assignment = {get4(reply, kYiaddr), get4(reply, mask + 2), get4(reply, router + 2),
                        get4(reply, kSiaddr)};
    if (check.assignment.address == Octets{}) {
        return fail(ReplyFault::Address, "yiaddr is 0.0.0.0: no address was assigned");
    }
    if (strict) {
        for (std::size_t i = 0; i < reply.size(); ++i) {
            const bool serverWrites = i == kOp || (i >= kYiaddr && i < kGiaddr) ||
                                      (i >= kReplyOptions && i < kTouchedEnd);
            if (!serverWrites && reply[i] != request[i]) {
                return fail(ReplyFault::Changed,
                            "byte " + std::to_string(i) + " is " + std::to_string(reply[i]) +
                                ", the request had " + std::to_string(request[i]));
            }
        }
    }
    return check;
}

ReplyCheck checkReplyAnyLayout(std::span<const std::uint8_t> request,
                               std::span<const std::uint8_t> reply, bool strict)
{
    const ReplyCheck card = checkReply(request, reply, strict);
    const ReplyFault f = card.fault;
    if (f != ReplyFault::Length && f != ReplyFault::MaskOption && f != ReplyFault::RouterOption &&
        f != ReplyFault::EndOption) {
        return card;
    }
    constexpr std::uint8_t kCookie[] = {99, 130, 83, 99};
    if (reply.size() < kOptions + sizeof kCookie || reply[kOp] != kBootReply ||
        !std::equal(request.begin() + kXid, request.begin() + kXid + 4, reply.begin() + kXid) ||
        !std::equal(request.begin() + kChaddr, request.begin() + kChaddr + kChaddrSize,
                    reply.begin() + kChaddr) ||
        !std::equal(std::begin(kCookie), std::end(kCookie), reply.begin() + kOptions)) {
        return card; // the card's own check already names the first thing wrong
    }
    std::optional<Octets> mask;
    std::optional<Octets> router;
    for (std::size_t i = kOptions + sizeof kCookie; i < reply.size();) {
        const std::uint8_t code = reply[i];
        if (code == 0) { // pad
            ++i;
            continue;
        }
        if (code == kOptEnd || i + 1 >= reply.size() || i + 2 + reply[i + 1] > reply.size()) {
            break;
        }
        const std::uint8_t length = reply[i + 1];
        if (code == kOptSubnetMask && length == 4 && !mask) {
            mask = get4(reply, i + 2);
        } else if (code == kOptRouter && length >= 4 && !router) {
            router = get4(reply, i + 2);
        }
        i += 2 + length;
    }
    if (!mask || !router) {
        return card;
    }
    ReplyCheck check;
    check.assignment = {get4(reply, kYiaddr), *mask, *router, get4(reply, kSiaddr)};
    if (check.assignment.address == Octets{}) {
        check.fault = ReplyFault::Address;
        check.message = "yiaddr is 0.0.0.0: no address was assigned";
        return check;
    }
    check.cardLayout = false;
    check.layoutFault = card.fault;
    check.layoutMessage = card.message;
    return check;
}

double percentile(std::vector<double> values, double q)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::optional<int> prefixLength(const Octets& mask)
{
    std::uint32_t bits = 0;
    for (std::uint8_t b : mask) {
        bits = (bits << 8) | b;
    }
    const std::uint32_t inverted = ~bits;
    if ((inverted & (inverted + 1)) != 0) {
        return std::nullopt; // the host part is not a run of trailing ones
    }
    int length = 0;
    for (; bits != 0; bits <<= 1) {
        ++length;
    }
    return length;
}

Pacer::Pacer(double ratePerSecond, Duration length)
    : rate_(ratePerSecond), total_(static_cast<std::uint64_t>(std::llround(
                                ratePerSecond * std::chrono::duration<double>(length).count())))
{
}

std::uint64_t Pacer::due(Duration elapsed) const
{
    const double seconds = std::chrono::duration<double>(elapsed).count();
    // Datagram i is due at i / rate; the one at elapsed 0 goes at once.
    const auto reached = static_cast<std::uint64_t>(std::floor(seconds * rate_)) + 1;
    return std::min(reached, total_) - std::min(sent_, std::min(reached, total_));
}

Pacer::Duration Pacer::nextDue() const
{
    // One nanosecond late rather than early, so that a sender woken then finds it due.
    return std::chrono::duration_cast<Duration>(
               std::chrono::duration<double>(static_cast<double>(sent_) / rate_)) +
           Duration(1);
}

} // namespace cardsim
