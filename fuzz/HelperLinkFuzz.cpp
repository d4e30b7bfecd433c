// Feeds any byte string to the helper as a command from its front-end: decoding never
// crashes, a decoded command encodes back to the same bytes with the same serial, and a reply
// the checks accept is its request turned into a reply, with settings a card may have.
#include "BootMessage.h"
#include "Card.h"
#include "Policy.h"
#include "Protocol.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace helper;

namespace {

Bytes request()
{
    Bytes m(300, 0);
    m[0] = 1;
    m[28] = 0x02;
    m[33] = 0x01;
    const std::uint8_t options[] = {99, 130, 83, 99, 61, 4, 'k', 'a', 'v', 'o', 255};
    std::copy(std::begin(options), std::end(options), m.begin() + bootp::kOptions);
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> in(data, size);
    const std::optional<Command> c = decodeCommand(in);
    if (!c) {
        return 0;
    }
    const Bytes again = encode(*c);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data) ||
        c->serial != serialOf(in)) {
        __builtin_trap();
    }
    const Reply* reply = std::get_if<Reply>(&c->message);
    if (reply == nullptr) {
        return 0;
    }
    HostFacts host;
    host.addresses = {{{10, 77, 0, 1}, 24, 2}};
    host.gateways = {{10, 77, 0, 254}};
    Ledger ledger;
    const Bytes q = request();
    const std::uint32_t id = ledger.remember(q, 2, 0);
    if (ledger.mayReply(reply->id, 1) && reply->id == id) {
        __builtin_trap();
    }
    if (checkReply(q, reply->datagram, 2, host)) {
        return 0;
    }
    // Accepted: exactly the request turned into a reply, with settings a card may have.
    const std::optional<bootp::Assignment> a = bootp::readReply(q, reply->datagram);
    if (!a || bootp::checkSettings(a->ip, a->mask, a->gateway) ||
        bootp::clashWithHost(a->ip, host) || checkEntry(a->ip, bootp::requestMac(q), host)) {
        __builtin_trap();
    }
    return 0;
}
