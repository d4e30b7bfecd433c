#pragma once

#include "Clock.h"
#include "DatagramSocket.h"
#include "NeighbourTable.h"
#include "OsVersion.h"

#include <memory>

// The Qt front-end's platform services on Linux: the socket and neighbour table over the
// helper, and the clock. torvane.exe makes its own in platform/windows/WinSeams.
/// The socket and the neighbour table of one window; both work through the same helper.
struct NetworkServices {
    std::unique_ptr<DatagramSocket> socket;
    std::unique_ptr<NeighbourTable> neighbours;
};
NetworkServices createNetworkServices();
std::unique_ptr<Clock> createClock();
