#pragma once

#include "Result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Who holds a UDP port in this network namespace, as far as this user can see: the socket's
// owner from /proc/net/udp and /proc/net/udp6, its process from /proc/PID/fd.
namespace netlink {

/// One socket of /proc/net/udp or /proc/net/udp6.
struct UdpEntry {
    unsigned port = 0;
    std::uint32_t uid = 0;
    std::uint64_t inode = 0;
};

/// The sockets listed in the text of /proc/net/udp or /proc/net/udp6 (header line first).
/// EBADMSG when a line is not in the kernel's form: a table that cannot be read is no table.
Result<std::vector<UdpEntry>> parseUdpTable(std::string_view text);

struct UdpOwner {
    bool found = false;    ///< a socket of this namespace holds the port
    std::uint32_t uid = 0; ///< the socket's owner
    std::string user;      ///< the owner's name, or the number when it has none
    long pid = 0;          ///< 0: the process could not be found
    std::string program;   ///< its name (comm)
    /// Why the process is unknown: the errno of a /proc/PID/fd this user may not read
    /// (EACCES), or 0 when every process was read and none has the socket open.
    int hiddenBy = 0;
};

/// The holder of a local UDP port, IPv4 or IPv6 (a dual-stack socket on [::] holds the IPv4
/// port too). A table that cannot be read is an error, not "nobody"; a process whose
/// descriptors cannot be read leaves the owner with its uid and no pid. `proc` is the proc
/// file system's root.
Result<UdpOwner> udpPortOwner(unsigned port, const std::string& proc = "/proc");

} // namespace netlink
