// Feeds any byte string to the helper as a message from its front-end: decoding never
// crashes, a decoded message encodes back to the same bytes, and a reply the checks accept
// differs from its request only where a reply writes, with an address a card may have.
#include "BootMessage.h"
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

bool mayDiffer(std::size_t i)
{
    return i == bootp::kOp || (i >= bootp::kYiaddr && i < bootp::kGiaddr) ||
           (i >= bootp::kReplyOptions && i < bootp::kTouchedEnd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> in(data, size);
    const std::optional<Message> m = decode(in);
    if (!m) {
        return 0;
    }
    const Bytes again = encode(*m);
    if (m->tag != Tag::Answer &&
        (again.size() != size || !std::equal(again.begin(), again.end(), data))) {
        __builtin_trap();
    }
    if (m->tag != Tag::Reply) {
        return 0;
    }
    NetFacts facts;
    facts.addresses = {{{10, 77, 0, 1}, 24}};
    facts.gateways = {{10, 77, 0, 254}};
    Ledger ledger;
    const Bytes q = request();
    const std::uint32_t id = ledger.remember(q, 2, 0);
    if (ledger.mayReply(m->id, 1) && m->id == id) {
        __builtin_trap();
    }
    if (checkReply(q, m->bytes, facts)) {
        return 0;
    }
    for (std::size_t i = 0; i < q.size(); ++i) {
        if (m->bytes[i] != q[i] && !mayDiffer(i)) {
            __builtin_trap();
        }
    }
    const Ipv4 yiaddr{m->bytes[16], m->bytes[17], m->bytes[18], m->bytes[19]};
    if (checkAddress(yiaddr, facts)) {
        __builtin_trap();
    }
    return 0;
}
