// The kernel filter on the helper's socket may only narrow what reaches it: a datagram that
// the helper passes on is never one the filter drops. The filter runs here in a user-space
// runner of classic BPF with the kernel's semantics.
#include "CardRequest.h"
#include "ClassicBpf.h"
#include "Filter.h"
#include "Policy.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> payload(data, size);
    for (const std::uint16_t port : {std::uint16_t(68), std::uint16_t(67), std::uint16_t(0x4400)}) {
        helper::Arrival arrival;
        arrival.ifindex = 2;
        arrival.destination = {255, 255, 255, 255};
        arrival.sourcePort = port;
        if (!helper::passOn(payload, arrival)) {
            continue;
        }
        const std::vector<std::uint8_t> packet =
            testing_support::ipv4Udp({data, data + size}, port, 67);
        const auto udp = helper::udpInIpv4(packet);
        if (!udp || testing_support::runClassicBpf(helper::cardPacketFilter(), packet) == 0) {
            __builtin_trap();
        }
    }
    return 0;
}
