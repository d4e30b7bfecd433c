#include "PortOwner.h"

#include "WinNet.h"

namespace assign {

std::string udpPortOwner(unsigned port)
{
    const winnet::Result<winnet::PortHolder> holder =
        winnet::udpPortHolder(static_cast<std::uint16_t>(port));
    if (!holder) {
        return portOwnerUnreadable("the UDP table", winnet::describe(holder.failure()));
    }
    if (!holder->found) {
        return {};
    }
    // Wine answers pid 0 for a socket whose descriptor only its server holds.
    if (holder->pid == 0) {
        return "a program whose process cannot be found";
    }
    return portOwnerText(holder->program, holder->pid);
}

} // namespace assign
