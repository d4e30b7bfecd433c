#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// What an unprivileged process can learn of this PC's network: interfaces, their IPv4
// addresses, and who holds a UDP port.

struct InterfaceAddress {
    std::uint32_t address = 0; ///< host byte order
    int prefix = 32;
};

/// The IPv4 addresses of an interface, in the kernel's order. When the kernel's answer cannot
/// be read the list is empty and *error (if given) holds the errno; else *error is 0.
QList<InterfaceAddress> interfaceAddresses(int ifindex, int* error = nullptr);

/// The IPv4 address of the interface holding the default route; else the first interface that
/// is up, not loopback, with an IPv4 address; else 127.0.0.1.
QString defaultLocalAddress();

QString dottedAddress(std::uint32_t address);
