#include "Protocol.h"

#include "BootMessage.h"

#include <algorithm>
#include <cstring>

namespace helper {

namespace {

enum class Tag : std::uint8_t {
    Listen = 'L',
    Pause = 'P',
    Reply = 'S',
    Neighbour = 'N',
    Want = 'W',
    Temporary = 'T',
    Finish = 'F',
    Bound = 'B',
    Request = 'Q',
    Answer = 'A',
};

/// The longest reason an answer carries.
constexpr std::size_t kMaxReason = 200;

class Writer {
public:
    explicit Writer(Tag tag) : m_out{static_cast<std::uint8_t>(tag)} {}
    template <typename T> Writer& put(const T& value)
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
        m_out.insert(m_out.end(), p, p + sizeof value);
        return *this;
    }
    Writer& bytes(std::span<const std::uint8_t> data)
    {
        m_out.insert(m_out.end(), data.begin(), data.end());
        return *this;
    }
    Bytes take() { return std::move(m_out); }

private:
    Bytes m_out;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> in) : m_in(in) {}
    template <typename T> bool get(T& value)
    {
        if (m_in.size() < sizeof value) {
            return false;
        }
        std::memcpy(&value, m_in.data(), sizeof value);
        m_in = m_in.subspan(sizeof value);
        return true;
    }
    /// The rest, which must be a datagram of a card request's size.
    bool datagram(Bytes& out)
    {
        if (m_in.size() < bootp::kMinMessage || m_in.size() > kMaxRequest) {
            return false;
        }
        out.assign(m_in.begin(), m_in.end());
        m_in = {};
        return true;
    }
    bool done() const { return m_in.empty(); }
    std::span<const std::uint8_t> rest() const { return m_in; }

private:
    std::span<const std::uint8_t> m_in;
};

bool knownRefusal(Refusal r)
{
    return r >= Refusal::None && r <= Refusal::InUse;
}

} // namespace

Bytes encode(const ToHelper& m)
{
    struct {
        Bytes operator()(const Listen&) { return Writer(Tag::Listen).take(); }
        Bytes operator()(const Pause&) { return Writer(Tag::Pause).take(); }
        Bytes operator()(const Reply& r)
        {
            return Writer(Tag::Reply).put(r.id).bytes(r.datagram).take();
        }
        Bytes operator()(const Neighbour& n)
        {
            return Writer(Tag::Neighbour).put(n.id).put(n.ip).put(n.mac).take();
        }
        Bytes operator()(const Want& w)
        {
            Writer out(Tag::Want);
            for (const Mac& mac : w.macs) {
                out.put(mac);
            }
            return out.take();
        }
        Bytes operator()(const Temporary& t)
        {
            return Writer(Tag::Temporary).put(t.id).put(t.address).put(t.lifetime).take();
        }
        Bytes operator()(const Finish& f) { return Writer(Tag::Finish).put(f.id).take(); }
    } visit;
    return std::visit(visit, m);
}

Bytes encode(const FromHelper& m)
{
    struct {
        Bytes operator()(const Bound& b) { return Writer(Tag::Bound).put(b.error).take(); }
        Bytes operator()(const Request& r)
        {
            return Writer(Tag::Request).put(r.id).put(r.ifindex).bytes(r.datagram).take();
        }
        Bytes operator()(const Answer& a)
        {
            const auto* reason = reinterpret_cast<const std::uint8_t*>(a.reason.data());
            return Writer(Tag::Answer)
                .put(a.serial)
                .put(a.error)
                .put(a.refusal)
                .bytes({reason, std::min(a.reason.size(), kMaxReason)})
                .take();
        }
    } visit;
    return std::visit(visit, m);
}

std::optional<ToHelper> decodeToHelper(std::span<const std::uint8_t> data)
{
    if (data.empty() || data.size() > kMaxMessage) {
        return std::nullopt;
    }
    Reader in(data.subspan(1));
    switch (static_cast<Tag>(data[0])) {
    case Tag::Listen:
        return in.done() ? std::optional<ToHelper>(Listen{}) : std::nullopt;
    case Tag::Pause:
        return in.done() ? std::optional<ToHelper>(Pause{}) : std::nullopt;
    case Tag::Reply: {
        Reply r;
        return in.get(r.id) && in.datagram(r.datagram) ? std::optional<ToHelper>(std::move(r))
                                                       : std::nullopt;
    }
    case Tag::Neighbour: {
        Neighbour n;
        return in.get(n.id) && in.get(n.ip) && in.get(n.mac) && in.done()
                   ? std::optional<ToHelper>(n)
                   : std::nullopt;
    }
    case Tag::Want: {
        // One to kWantedPerMessage whole MACs, nothing else.
        const std::size_t n = in.rest().size() / sizeof(Mac);
        if (n == 0 || n > kWantedPerMessage || in.rest().size() % sizeof(Mac) != 0) {
            return std::nullopt;
        }
        Want w;
        w.macs.resize(n);
        for (Mac& mac : w.macs) {
            in.get(mac);
        }
        return w;
    }
    case Tag::Temporary: {
        Temporary t;
        return in.get(t.id) && in.get(t.address) && in.get(t.lifetime) && in.done()
                   ? std::optional<ToHelper>(t)
                   : std::nullopt;
    }
    case Tag::Finish: {
        Finish f;
        return in.get(f.id) && in.done() ? std::optional<ToHelper>(f) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<FromHelper> decodeFromHelper(std::span<const std::uint8_t> data)
{
    if (data.empty() || data.size() > kMaxMessage) {
        return std::nullopt;
    }
    Reader in(data.subspan(1));
    switch (static_cast<Tag>(data[0])) {
    case Tag::Bound: {
        Bound b;
        return in.get(b.error) && in.done() ? std::optional<FromHelper>(b) : std::nullopt;
    }
    case Tag::Request: {
        Request r;
        return in.get(r.id) && in.get(r.ifindex) && in.datagram(r.datagram)
                   ? std::optional<FromHelper>(std::move(r))
                   : std::nullopt;
    }
    case Tag::Answer: {
        Answer a;
        if (!in.get(a.serial) || !in.get(a.error) || !in.get(a.refusal) ||
            !knownRefusal(a.refusal) || in.rest().size() > kMaxReason) {
            return std::nullopt;
        }
        a.reason.assign(in.rest().begin(), in.rest().end());
        return a;
    }
    default:
        return std::nullopt;
    }
}

Bytes encode(const Command& c)
{
    const Bytes message = encode(c.message);
    Bytes out(sizeof c.serial + message.size());
    std::memcpy(out.data(), &c.serial, sizeof c.serial);
    std::copy(message.begin(), message.end(), out.begin() + sizeof c.serial);
    return out;
}

std::optional<Command> decodeCommand(std::span<const std::uint8_t> data)
{
    Command c;
    if (data.size() < sizeof c.serial || data.size() > kMaxMessage) {
        return std::nullopt;
    }
    c.serial = serialOf(data);
    std::optional<ToHelper> message = decodeToHelper(data.subspan(sizeof c.serial));
    if (!message) {
        return std::nullopt;
    }
    c.message = std::move(*message);
    return c;
}

std::uint32_t serialOf(std::span<const std::uint8_t> data)
{
    std::uint32_t serial = 0;
    if (data.size() >= sizeof serial) {
        std::memcpy(&serial, data.data(), sizeof serial);
    }
    return serial;
}

bool refusalHeals(Refusal r)
{
    switch (r) {
    case Refusal::UnknownRequest:
    case Refusal::Expired:
    case Refusal::Outstanding:
    case Refusal::KernelQuery:
        return true;
    default:
        return false;
    }
}

} // namespace helper
