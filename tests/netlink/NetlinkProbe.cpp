// Prints what torvane_netlink reads from the kernel, for netns_test.sh:
// IF is a name or an index.
//   addresses IF         "ip/prefix" per address of IF
//   neighbours IF        "ip mac state" per entry of IF
//   neighbour IF IP      "ip mac state", or "none"
//   routes               "dest/prefix via gw[,gw...] dev index" per main-table route
//   links                "index name up|down" per interface
//   owner PORT           "uid U user NAME pid P program C", or "free"
//   hold PORT            binds UDP 127.0.0.1:PORT (nothing is sent), prints "ready", sleeps
//   watch                the helper's host facts with its watch on: for each line read on
//                        standard input, "ip/prefix ... | gateway ..." sorted, or "error: ..."
// --nofile N first lowers RLIMIT_NOFILE to N before the query.
// A failed query prints "error: ..." on stderr and exits 2.
#include "Kernel.h"
#include "Rtnetlink.h"
#include "UdpOwner.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string dotted(netlink::Ipv4 ip)
{
    return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 0xFF) + "." +
           std::to_string(ip >> 8 & 0xFF) + "." + std::to_string(ip & 0xFF);
}

netlink::Ipv4 parse(const char* text)
{
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) {
        std::fprintf(stderr, "bad address %s\n", text);
        std::exit(64);
    }
    return ntohl(a.s_addr);
}

// A name, or an index (which needs no socket to look up).
unsigned indexOf(const char* name)
{
    char* end = nullptr;
    const unsigned long number = std::strtoul(name, &end, 10);
    if (*name != '\0' && *end == '\0') {
        return static_cast<unsigned>(number);
    }
    const unsigned index = if_nametoindex(name);
    if (index == 0) {
        std::fprintf(stderr, "no interface %s\n", name);
        std::exit(64);
    }
    return index;
}

int fail(const char* what, int error)
{
    std::fprintf(stderr, "error: %s: %s\n", what, std::strerror(error));
    return 2;
}

void printNeighbour(const netlink::Neighbour& n)
{
    char mac[18] = "-";
    if (n.mac) {
        const auto& m = *n.mac;
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3],
                      m[4], m[5]);
    }
    std::printf("%s %s 0x%x\n", dotted(n.ip).c_str(), mac, n.state);
}

int neighbour(unsigned index, const char* ip)
{
    const auto n = netlink::neighbour(index, parse(ip));
    if (!n) {
        return fail("neighbour", n.error());
    }
    if (!*n) {
        std::puts("none");
    } else {
        printNeighbour(**n);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--nofile") == 0) {
        const rlim_t n = std::strtoul(argv[2], nullptr, 10);
        const rlimit limit{n, n};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return fail("setrlimit", errno);
        }
        argc -= 2;
        argv += 2;
    }
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "addresses" && argc == 3) {
        const auto all = netlink::addresses(indexOf(argv[2]));
        if (!all) {
            return fail("addresses", all.error());
        }
        for (const netlink::Address& a : *all) {
            std::printf("%s/%d\n", dotted(a.ip).c_str(), a.prefix);
        }
        return 0;
    }
    if (command == "neighbours" && argc == 3) {
        const auto all = netlink::neighbours(indexOf(argv[2]));
        if (!all) {
            return fail("neighbours", all.error());
        }
        for (const netlink::Neighbour& n : *all) {
            printNeighbour(n);
        }
        return 0;
    }
    if (command == "neighbour" && argc == 4) {
        return neighbour(indexOf(argv[2]), argv[3]);
    }
    if (command == "routes" && argc == 2) {
        const auto all = netlink::routes();
        if (!all) {
            return fail("routes", all.error());
        }
        for (const netlink::Route& r : *all) {
            std::string via = dotted(r.gateway);
            if (!r.nexthops.empty()) {
                via.clear();
                for (const netlink::Ipv4 hop : r.nexthops) {
                    via += (via.empty() ? "" : ",") + dotted(hop);
                }
            }
            std::printf("%s/%d via %s dev %u\n", dotted(r.destination).c_str(), r.prefix,
                        via.c_str(), r.index);
        }
        return 0;
    }
    if (command == "links" && argc == 2) {
        const auto all = netlink::links();
        if (!all) {
            return fail("links", all.error());
        }
        for (const netlink::Link& l : *all) {
            std::printf("%u %s %s\n", l.index, l.name.c_str(), (l.flags & IFF_UP) ? "up" : "down");
        }
        return 0;
    }
    if (command == "owner" && argc == 3) {
        const auto o = netlink::udpPortOwner(static_cast<unsigned>(std::atoi(argv[2])));
        if (!o) {
            return fail("owner", o.error());
        }
        if (!o->found) {
            std::puts("free");
        } else {
            std::printf("uid %u user %s pid %ld program %s\n", o->uid, o->user.c_str(), o->pid,
                        o->program.empty() ? "-" : o->program.c_str());
        }
        return 0;
    }
    if (command == "hold" && argc == 3) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            return fail("hold", errno);
        }
        std::puts("ready");
        std::fflush(stdout);
        ::pause();
        return 0;
    }
    if (command == "watch" && argc == 2) {
        helper::RouteLink link;
        if (const int err = link.watchHost(); err != 0) {
            return fail("watch", err);
        }
        for (std::string line; std::getline(std::cin, line);) {
            helper::HostFacts facts;
            if (const int err = link.hostFacts(facts); err != 0) {
                std::printf("error: %s\n", std::strerror(err));
            } else {
                std::vector<std::string> addresses;
                std::vector<std::string> gateways;
                for (const auto& a : facts.addresses) {
                    addresses.push_back(dotted(bootp::toValue(a.ip)) + "/" +
                                        std::to_string(a.prefix));
                }
                for (const auto& g : facts.gateways) {
                    gateways.push_back(dotted(bootp::toValue(g)));
                }
                std::sort(addresses.begin(), addresses.end());
                std::sort(gateways.begin(), gateways.end());
                std::string out;
                for (const auto& a : addresses) {
                    out += a + " ";
                }
                out += "|";
                for (const auto& g : gateways) {
                    out += " " + g;
                }
                std::printf("%s\n", out.c_str());
            }
            std::fflush(stdout);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: netlink_probe addresses|neighbours|neighbour|routes|links|"
                         "owner|hold|watch ...\n");
    return 64;
}
