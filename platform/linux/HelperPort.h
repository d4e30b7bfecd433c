#pragma once

#include "HelperLink.h"
#include "LinkSocket.h"

class QSocketNotifier;

// LinkSocket's part on Linux: the link is torvane-helper, started by the first bind, which
// holds port 67 and passes on card requests; this side holds no privilege. A QSocketNotifier
// on the link wakes the socket; the interface facts come from rtnetlink.
class HelperPort final : public LinkHooks {
public:
    HelperPort() = default;
    ~HelperPort() override;

    helper::Link& open(int port) override;
    helper::Link* link() override { return &m_link; }
    void end() override { m_link.stop(); }
    void watch() override;
    void unwatch() override;

    std::string localIP() const override;
    std::string interfaceName(int ifindex) const override;
    std::optional<std::vector<Address>> interfaceAddresses(int ifindex) const override;
    bool interfaceExists(int ifindex) const override;

    /// The running helper's process id (tests read its capabilities), else -1.
    long long helperPid() const { return m_link.running() ? m_link.pid() : -1; }

private:
    helper::HelperLink m_link;
    QSocketNotifier* m_notifier = nullptr;
};

/// The helper's process id behind a socket of createNetworkServices(), else -1.
long long helperPid(const DatagramSocket& socket);
