// The helper's neighbour write against the real kernel, for netns.sh:
//   neighbour_probe DEV IP MAC      prints "result ERRNO" (0, or EEXIST when another MAC holds
//                                   the address and was left as it was)
// Run as root inside a test namespace; it writes to that namespace's table only.
#include "Kernel.h"

#include <cstdio>
#include <net/if.h>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: neighbour_probe DEV IP MAC\n", stderr);
        return 2;
    }
    const int ifindex = static_cast<int>(::if_nametoindex(argv[1]));
    const auto ip = bootp::parseIp(argv[2]);
    const auto mac = bootp::parseMac(argv[3]);
    if (ifindex <= 0 || !ip || !mac) {
        std::fputs("neighbour_probe: bad interface, address or MAC\n", stderr);
        return 2;
    }
    helper::RouteLink link;
    if (link.error() != 0) {
        std::printf("open %d\n", link.error());
        return 1;
    }
    std::printf("result %d\n", link.addPermanent(ifindex, *ip, *mac));
    return 0;
}
