// Feeds any byte string to the three boot message operations and checks that the reply
// keeps the request's length and touches no byte outside op, yiaddr/siaddr and the options
// it writes.
#include "BootMessage.h"
#include "BootP.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

bool mayDiffer(std::size_t i)
{
    return i == bootp::kOp || (i >= bootp::kYiaddr && i < bootp::kGiaddr) ||
           (i >= bootp::kReplyOptions && i < bootp::kTouchedEnd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    behaviour::PublicArea area;
    area.G_IpAddr = {10, 77, 0, 20};
    area.G_LocalIp = {10, 77, 0, 1};
    area.G_SbMask = {255, 255, 255, 0};
    area.G_GateWay = {10, 77, 0, 254};

    const std::vector<std::uint8_t> request(data, data + size);
    std::vector<std::uint8_t> reply = request;
    const bool isCard = behaviour::chkRequest(request);
    behaviour::macText(request, area);
    if (isCard && area.G_MacAddr.size() != 17) {
        __builtin_trap();
    }
    const bool replied = behaviour::makeReply(reply, area);
    if (size >= bootp::kMinMessage && !replied) {
        __builtin_trap();
    }
    if (reply.size() != request.size()) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (reply[i] != request[i] && !mayDiffer(i)) {
            __builtin_trap();
        }
    }
    return 0;
}
