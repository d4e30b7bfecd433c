#include "Protocol.h"

#include "BootMessage.h"

namespace helper {

namespace {

void put(Bytes& out, const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

template <typename T> bool take(std::span<const std::uint8_t>& in, T& value)
{
    if (in.size() < sizeof value) {
        return false;
    }
    std::memcpy(&value, in.data(), sizeof value);
    in = in.subspan(sizeof value);
    return true;
}

bool datagramSize(std::size_t size)
{
    return size >= bootp::kMinMessage && size <= kMaxRequest;
}

} // namespace

Bytes encode(const Message& m)
{
    Bytes out{static_cast<std::uint8_t>(m.tag)};
    switch (m.tag) {
    case Tag::Listen:
    case Tag::Pause:
        break;
    case Tag::Reply:
        put(out, &m.id, sizeof m.id);
        put(out, m.bytes.data(), m.bytes.size());
        break;
    case Tag::Neighbour:
        put(out, &m.id, sizeof m.id);
        put(out, m.ip.data(), m.ip.size());
        put(out, m.mac.data(), m.mac.size());
        break;
    case Tag::Bound:
        put(out, &m.number, sizeof m.number);
        break;
    case Tag::Request:
        put(out, &m.id, sizeof m.id);
        put(out, &m.number, sizeof m.number);
        put(out, m.bytes.data(), m.bytes.size());
        break;
    case Tag::Answer:
        put(out, &m.number, sizeof m.number);
        put(out, m.text.data(), std::min<std::size_t>(m.text.size(), 200));
        break;
    }
    return out;
}

std::optional<Message> decode(std::span<const std::uint8_t> in)
{
    if (in.empty() || in.size() > kMaxMessage) {
        return std::nullopt;
    }
    Message m;
    m.tag = static_cast<Tag>(in[0]);
    in = in.subspan(1);
    switch (m.tag) {
    case Tag::Listen:
    case Tag::Pause:
        return in.empty() ? std::optional(m) : std::nullopt;
    case Tag::Reply:
        if (!take(in, m.id) || !datagramSize(in.size())) {
            return std::nullopt;
        }
        m.bytes.assign(in.begin(), in.end());
        return m;
    case Tag::Neighbour:
        if (!take(in, m.id) || !take(in, m.ip) || !take(in, m.mac) || !in.empty()) {
            return std::nullopt;
        }
        return m;
    case Tag::Bound:
        return take(in, m.number) && in.empty() ? std::optional(m) : std::nullopt;
    case Tag::Request:
        if (!take(in, m.id) || !take(in, m.number) || !datagramSize(in.size())) {
            return std::nullopt;
        }
        m.bytes.assign(in.begin(), in.end());
        return m;
    case Tag::Answer:
        if (!take(in, m.number)) {
            return std::nullopt;
        }
        m.text.assign(in.begin(), in.end());
        return m;
    }
    return std::nullopt;
}

const char* refusalText(Refusal r)
{
    switch (r) {
    case Refusal::Malformed:
        return "malformed message";
    case Refusal::UnknownRequest:
        return "no such request was passed on";
    case Refusal::AlreadyReplied:
        return "that request has already been answered";
    case Refusal::Expired:
        return "that request is too old to answer";
    case Refusal::ChangedBytes:
        return "the reply changes bytes outside the reply's fields";
    case Refusal::BadAddress:
        return "the address is not a unicast host address";
    case Refusal::BadMask:
        return "the subnet mask is not contiguous";
    case Refusal::BadGateway:
        return "the gateway lies outside the card's subnet";
    case Refusal::BadServer:
        return "the server address is not an address of this PC";
    case Refusal::Outstanding:
        return "another assignment is still outstanding";
    case Refusal::NotReplied:
        return "no reply was sent for that request";
    case Refusal::Mismatch:
        return "the entry differs from the reply that was sent";
    case Refusal::LocalAddress:
        return "the address belongs to this PC";
    case Refusal::SubnetEdge:
        return "the address is the network or broadcast address of a connected subnet";
    case Refusal::GatewayAddress:
        return "the address is a gateway of this PC";
    case Refusal::OtherMac:
        return "the neighbour table maps the address to another MAC";
    case Refusal::BadMac:
        return "the MAC is not a unicast hardware address";
    }
    return "refused";
}

} // namespace helper
