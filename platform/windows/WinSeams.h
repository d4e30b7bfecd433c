#pragma once

#include "CardPort.h"
#include "Clock.h"
#include "LinkSocket.h"
#include "WinNet.h"

#include <memory>

// The behaviour's plain seams (platform/seams) on Winsock and the IP Helper API, for
// torvane.exe. Everything runs on the one user-interface thread: the card port's events come
// as window messages to a message-only window of its own.
namespace winnet {

/// LinkSocket's part on Windows: the link is the card port, held from the first bind to the
/// end of the search. Requests, replies and entries pass the same checks as torvane-helper's
/// on Linux; the neighbour entry says "this Windows cannot" where CreateIpNetEntry2 is missing
/// (Wine 8).
class CardPortHooks final : public LinkHooks {
public:
    CardPortHooks();
    ~CardPortHooks() override;
    CardPortHooks(const CardPortHooks&) = delete;
    CardPortHooks& operator=(const CardPortHooks&) = delete;

    helper::Link& open(int port) override;
    helper::Link* link() override { return m_port.get(); }
    void end() override { m_port.reset(); }
    void watch() override;
    void unwatch() override {}

    std::string localIP() const override;
    std::string interfaceName(int ifindex) const override;
    std::optional<std::vector<Address>> interfaceAddresses(int ifindex) const override;
    bool interfaceExists(int ifindex) const override;
    /// Without elevation: the netsh lines for an administrator's prompt.
    std::optional<text::Twin>
    temporaryByHand(int ifindex, const std::array<std::uint8_t, 4>& address,
                    const std::array<std::uint8_t, 4>& card) const override;

    /// The message window's handler: the port's socket has something to read, or an error.
    void onSelect(std::uintptr_t socket, unsigned error);

private:
    Winsock m_winsock;
    HWND m_window = nullptr;
    std::unique_ptr<CardPort> m_port;
};

/// The session of torvane.exe's socket and neighbour table (LinkSocket, LinkNeighbourTable).
std::shared_ptr<LinkSession> cardSession();

/// GetTickCount64: monotonic, in milliseconds.
class WinClock final : public Clock {
public:
    double seconds() override;
};

} // namespace winnet
