#include "Platform.h"

#if defined(__linux__)
#include "linux/LinuxNeighbourTable.h"
#include "linux/LinuxUdpSocket.h"
#else
#error "Torvane has platform services for Linux only"
#endif

#include <chrono>

namespace {

class SteadyClock final : public Clock {
public:
    double seconds() override
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
};

} // namespace

std::unique_ptr<UdpSocket> createUdpSocket()
{
    return std::make_unique<LinuxUdpSocket>();
}
std::unique_ptr<NeighbourTable> createNeighbourTable()
{
    return std::make_unique<LinuxNeighbourTable>();
}
std::unique_ptr<Clock> createClock()
{
    return std::make_unique<SteadyClock>();
}
