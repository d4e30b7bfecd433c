#include "PortOwner.h"

#include "UdpOwner.h"

#include <cstring>

namespace assign {

std::string udpPortOwner(unsigned port)
{
    const netlink::Result<netlink::UdpOwner> owner = netlink::udpPortOwner(port);
    if (!owner) {
        return std::string("a program this user cannot name (/proc/net/udp could not be read: ") +
               std::strerror(owner.error()) + ")";
    }
    if (!owner->found) {
        return {};
    }
    if (owner->pid != 0) {
        return (owner->program.empty() ? std::string("a program") : owner->program) + " (pid " +
               std::to_string(owner->pid) + ")";
    }
    return "a program of user " + owner->user + " (its process is not visible to this user)";
}

} // namespace assign
