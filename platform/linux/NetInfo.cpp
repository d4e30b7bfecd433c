#include "NetInfo.h"

#include "Rtnetlink.h"
#include "UdpOwner.h"

#include <net/if.h>

#include <cstdio>
#include <cstring>

namespace {

void logFailure(const char* what, int error)
{
    std::fprintf(stderr, "torvane: %s: %s\n", what, std::strerror(error));
}

} // namespace

QList<InterfaceAddress> interfaceAddresses(int ifindex, int* error)
{
    QList<InterfaceAddress> result;
    if (error != nullptr) {
        *error = 0;
    }
    if (ifindex <= 0) {
        return result;
    }
    const netlink::Result<std::vector<netlink::Address>> all =
        netlink::addresses(static_cast<unsigned>(ifindex));
    if (!all) {
        logFailure("the interface's addresses cannot be read", all.error());
        if (error != nullptr) {
            *error = all.error();
        }
        return result;
    }
    for (const netlink::Address& a : *all) {
        result.append({a.ip, a.prefix});
    }
    return result;
}

QString dottedAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg(address >> 16 & 0xFF)
        .arg(address >> 8 & 0xFF)
        .arg(address & 0xFF);
}

QString defaultLocalAddress()
{
    // The address of the default route's interface; else of the first interface that is up
    // and not loopback. Only a first guess: each card's request replaces it with the arrival
    // interface's address.
    const auto routes = netlink::routes();
    const auto links = netlink::links();
    const auto addresses = netlink::addresses();
    if (!routes) {
        logFailure("the routes cannot be read", routes.error());
    }
    if (!links) {
        logFailure("the interfaces cannot be read", links.error());
    }
    if (!addresses) {
        logFailure("the addresses cannot be read", addresses.error());
    }
    if (!addresses) {
        return QStringLiteral("127.0.0.1");
    }
    unsigned routeIndex = 0;
    std::uint32_t best = 0;
    if (routes) {
        for (const netlink::Route& r : *routes) {
            if (r.prefix == 0 && r.index != 0 && (routeIndex == 0 || r.priority < best)) {
                routeIndex = r.index;
                best = r.priority;
            }
        }
    }
    for (const netlink::Address& a : *addresses) {
        if (routeIndex != 0 && a.index == routeIndex) {
            return dottedAddress(a.ip);
        }
    }
    if (links) {
        for (const netlink::Address& a : *addresses) {
            for (const netlink::Link& l : *links) {
                if (l.index == a.index && (l.flags & IFF_UP) && !(l.flags & IFF_LOOPBACK)) {
                    return dottedAddress(a.ip);
                }
            }
        }
    }
    return QStringLiteral("127.0.0.1");
}
