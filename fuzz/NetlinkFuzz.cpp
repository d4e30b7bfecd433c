// rtnetlink answers as the kernel might send them, read as the helper and torvane_netlink both
// read them: any bytes end either in a complete answer or in an errno, never in a read past the
// datagram. The first byte picks the decoder.
#include "NetlinkWire.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

template <typename T> int decodeAs(const nlmsghdr* m)
{
    T out;
    return netlink::wire::decode(m, out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    using Decoder = int (*)(const nlmsghdr*);
    constexpr Decoder decoders[] = {decodeAs<netlink::Address>, decodeAs<netlink::Neighbour>,
                                    decodeAs<netlink::Route>, decodeAs<netlink::Link>,
                                    decodeAs<netlink::Nexthop>};
    const Decoder decode = decoders[data[0] % std::size(decoders)];
    // The socket's buffer is aligned for nlmsghdr; so is this copy.
    std::vector<std::uint32_t> aligned((size - 1 + 3) / 4);
    std::memcpy(aligned.data(), data + 1, size - 1);
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(aligned.data()), size - 1);
    // The sequence and port of the seeds.
    netlink::wire::Progress progress;
    const int error = netlink::wire::readDatagram(bytes, 7, 4242, decode, progress);
    if (error != 0 && progress == netlink::wire::Progress::Done) {
        std::abort(); // a refused answer is never complete
    }
    if (error == 0 && progress == netlink::wire::Progress::Ended) {
        std::abort(); // an answer the kernel's error ended is a refusal
    }
    return 0;
}
