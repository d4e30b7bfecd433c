#include "LinuxServices.h"

#include "HelperPort.h"

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

NetworkServices createNetworkServices()
{
    auto session = std::make_shared<LinkSession>(std::make_unique<HelperPort>());
    return {std::make_unique<LinkSocket>(session), std::make_unique<LinkNeighbourTable>(session)};
}
std::unique_ptr<Clock> createClock()
{
    return std::make_unique<SteadyClock>();
}
