#pragma once

#include "Clock.h"
#include "NeighbourTable.h"
#include "OsVersion.h"
#include "UdpSocket.h"

#include <memory>

// The one place that chooses the implementation of each platform service for this OS.
std::unique_ptr<UdpSocket> createUdpSocket();
std::unique_ptr<NeighbourTable> createNeighbourTable();
std::unique_ptr<Clock> createClock();
