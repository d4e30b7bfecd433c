#pragma once

#include "Clock.h"
#include "DatagramSocket.h"
#include "NeighbourTable.h"
#include "OsVersion.h"

#include <memory>

// The one place that chooses the implementation of each platform service for this OS.
/// The socket and the neighbour table of one window; both work through the same helper.
struct NetworkServices {
    std::unique_ptr<DatagramSocket> socket;
    std::unique_ptr<NeighbourTable> neighbours;
};
NetworkServices createNetworkServices();
std::unique_ptr<Clock> createClock();
