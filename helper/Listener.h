#pragma once

#include "Kernel.h"

// The helper's listener: it holds UDP port 67 and a packet socket for card requests, reads the
// front-end's messages and the datagrams, and runs the port keeper over them. It holds no
// capability once its sockets are open.
namespace helper {

/// The socket on 0.0.0.0:67 that holds the port and sends the replies; it queues nothing.
/// -errno on failure.
int bindServerPort();

/// The packet socket that card requests are read from, below the host firewall; -errno on
/// failure.
int openCardPacketSocket();

/// Sends m to the front-end; ends the process when the front-end has gone.
void tell(const FromHelper& m);

/// Serves the front-end until it closes the link; the process's exit status. udp sends the
/// replies, packets brings the requests, writer is the link to the neighbour-table writer.
int serveListener(int udp, int packets, int writer, RouteLink& route);

} // namespace helper
