#pragma once

#include "Twin.h"

#include <string>

/// Who holds a UDP port, as far as this user can see.
struct PortHolderFacts {
    std::string unreadable; ///< why the table of UDP ports could not be read; empty when it was
    bool found = false;
    std::string program;   ///< empty when its process cannot be named
    unsigned long pid = 0; ///< 0 when its process cannot be found
    std::string user;      ///< the socket's owner, where the system names it (Linux)
};

/// The holder in words, the same for the windows and torvane-assign: "another program (dnsmasq,
/// pid 812)".
inline text::Twin portHolderText(const PortHolderFacts& h)
{
    using text::Id;
    if (!h.unreadable.empty()) {
        return text::twin(Id::PortHolderUnreadable, {h.unreadable});
    }
    if (h.found && !h.program.empty()) {
        return text::twin(Id::PortHolderProgram, {h.program, std::to_string(h.pid)});
    }
    if (h.found && h.pid != 0) {
        return text::twin(Id::PortHolderPid, {std::to_string(h.pid)});
    }
    if (h.found && !h.user.empty()) {
        return text::twin(Id::PortHolderUser, {h.user});
    }
    return text::twin(Id::PortHolderUnknown);
}

/// Who holds UDP port `port` in this network namespace, in words; one definition per platform,
/// beside its reader of the port table.
text::Twin udpPortHolderText(unsigned port);
