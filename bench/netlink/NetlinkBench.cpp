// torvane_netlink against the code it replaced, in a namespace set up by run.sh: one neighbour
// entry looked up (the library asks the kernel for the entry; the old code dumped the table and
// searched it), the neighbour table dumped by both, and the IPv4 addresses listed (the old code
// used getifaddrs). The old functions are kept here only as the baseline.
#include "Rtnetlink.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

struct OldNeighbour {
    std::uint16_t state = 0;
    std::optional<std::array<std::uint8_t, 6>> mac;
};

// The hand-written dump of assign/Network.cpp before the library, unchanged but for
// `all`, which keeps every entry so that the dump can be compared as well.
std::optional<OldNeighbour> oldNeighbourEntry(unsigned index, std::uint32_t ip, int* all)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    std::optional<OldNeighbour> found;
    if (::send(fd, &request, sizeof request, 0) < 0) {
        ::close(fd);
        return std::nullopt;
    }
    const std::uint32_t want = htonl(ip);
    alignas(nlmsghdr) char buffer[16384];
    bool done = false;
    while (!done) {
        timeval tv{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        int len = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH) {
                continue;
            }
            const auto* nd = static_cast<const ndmsg*>(NLMSG_DATA(h));
            if (nd->ndm_family != AF_INET || static_cast<unsigned>(nd->ndm_ifindex) != index) {
                continue;
            }
            if (all != nullptr) {
                ++*all;
            }
            int attrLen = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *nd));
            bool match = false;
            std::optional<std::array<std::uint8_t, 6>> mac;
            for (auto* a = reinterpret_cast<rtattr*>(
                     reinterpret_cast<char*>(const_cast<ndmsg*>(nd)) + NLMSG_ALIGN(sizeof *nd));
                 RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
                if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                    match = std::memcmp(RTA_DATA(a), &want, 4) == 0;
                } else if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                    std::array<std::uint8_t, 6> m;
                    std::memcpy(m.data(), RTA_DATA(a), 6);
                    mac = m;
                }
            }
            if (match) {
                found = OldNeighbour{nd->ndm_state, mac};
            }
        }
    }
    ::close(fd);
    return found;
}

struct OldAddress {
    unsigned index;
    std::uint32_t ip;
    std::uint32_t mask;
};

// assign::localAddresses before the library.
std::vector<OldAddress> oldLocalAddresses()
{
    std::vector<OldAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return out;
    }
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        const auto* nm = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
        out.push_back({::if_nametoindex(a->ifa_name), ntohl(sin->sin_addr.s_addr),
                       nm ? ntohl(nm->sin_addr.s_addr) : 0xFFFFFFFFu});
    }
    ::freeifaddrs(list);
    return out;
}

unsigned benchIndex()
{
    const char* name = std::getenv("NETLINK_BENCH_IF");
    return ::if_nametoindex(name != nullptr ? name : "lo");
}

std::uint32_t benchAddress()
{
    const char* text = std::getenv("NETLINK_BENCH_IP");
    in_addr a{};
    inet_pton(AF_INET, text != nullptr ? text : "127.0.0.1", &a);
    return ntohl(a.s_addr);
}

void NeighbourLookup_Library(benchmark::State& state)
{
    const unsigned index = benchIndex();
    const std::uint32_t ip = benchAddress();
    for (auto _ : state) {
        const auto n = netlink::neighbour(index, ip);
        if (!n || !*n) {
            state.SkipWithError("no entry");
            break;
        }
        benchmark::DoNotOptimize(n);
    }
}

void NeighbourLookup_Old(benchmark::State& state)
{
    const unsigned index = benchIndex();
    const std::uint32_t ip = benchAddress();
    for (auto _ : state) {
        const auto n = oldNeighbourEntry(index, ip, nullptr);
        if (!n) {
            state.SkipWithError("no entry");
            break;
        }
        benchmark::DoNotOptimize(n);
    }
}

void NeighbourDump_Library(benchmark::State& state)
{
    const unsigned index = benchIndex();
    for (auto _ : state) {
        const auto all = netlink::neighbours(index);
        if (!all) {
            state.SkipWithError("dump failed");
            break;
        }
        state.counters["entries"] = static_cast<double>(all->size());
    }
}

void NeighbourDump_Old(benchmark::State& state)
{
    const unsigned index = benchIndex();
    for (auto _ : state) {
        int all = 0;
        benchmark::DoNotOptimize(oldNeighbourEntry(index, 0, &all));
        state.counters["entries"] = all;
    }
}

void AddressDump_Library(benchmark::State& state)
{
    for (auto _ : state) {
        const auto all = netlink::addresses();
        if (!all) {
            state.SkipWithError("dump failed");
            break;
        }
        state.counters["addresses"] = static_cast<double>(all->size());
    }
}

void AddressList_OldGetifaddrs(benchmark::State& state)
{
    for (auto _ : state) {
        const auto all = oldLocalAddresses();
        state.counters["addresses"] = static_cast<double>(all.size());
    }
}

BENCHMARK(NeighbourLookup_Old)->Unit(benchmark::kMicrosecond);
BENCHMARK(NeighbourLookup_Library)->Unit(benchmark::kMicrosecond);
BENCHMARK(NeighbourDump_Old)->Unit(benchmark::kMicrosecond);
BENCHMARK(NeighbourDump_Library)->Unit(benchmark::kMicrosecond);
BENCHMARK(AddressList_OldGetifaddrs)->Unit(benchmark::kMicrosecond);
BENCHMARK(AddressDump_Library)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
