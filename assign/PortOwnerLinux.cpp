#include "PortOwner.h"

#include "UdpOwner.h"

#include <cstring>

namespace assign {

std::string udpPortOwner(unsigned port)
{
    const netlink::Result<netlink::UdpOwner> owner = netlink::udpPortOwner(port);
    if (!owner) {
        return portOwnerUnreadable("/proc/net/udp", std::strerror(owner.error()));
    }
    if (!owner->found) {
        return {};
    }
    if (owner->pid != 0) {
        return portOwnerText(owner->program, static_cast<unsigned long>(owner->pid));
    }
    return "a program of user " + owner->user + " (its process is not visible to this user)";
}

} // namespace assign
