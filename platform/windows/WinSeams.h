#pragma once

#include "CardPort.h"
#include "Clock.h"
#include "DatagramSocket.h"
#include "NeighbourTable.h"
#include "WinNet.h"

#include <deque>
#include <memory>

// The behaviour's plain seams (platform/seams) on Winsock and the IP Helper API, for
// torvane.exe. Everything runs on the one user-interface thread: the socket's events come as
// window messages to a message-only window of its own.
namespace winnet {

/// What the socket and the neighbour table share: the card port, held from the first bind to
/// the end of the search, and the request the current card's reply and entry refer to.
struct CardSession {
    std::unique_ptr<CardPort> port;
    std::uint32_t requestId = 0;
    unsigned long arrival = 0;
};

/// The card port as the main window's socket: binding takes port 67 (or listens again),
/// closing pauses it, ending the search lets it go. Requests, replies and entries pass the
/// same checks as torvane-helper's on Linux.
class WinDatagramSocket final : public DatagramSocket {
public:
    explicit WinDatagramSocket(std::shared_ptr<CardSession> session);
    ~WinDatagramSocket() override;
    WinDatagramSocket(const WinDatagramSocket&) = delete;
    WinDatagramSocket& operator=(const WinDatagramSocket&) = delete;

    void setLocalPort(int port) override { m_localPort = port; }
    int localPort() const override { return m_localPort; }
    void setRemotePort(int port) override { m_remotePort = port; }
    int remotePort() const override { return m_remotePort; }
    void setRemoteHost(const std::string& host) override { m_remoteHost = host; }
    std::string remoteHost() const override { return m_remoteHost; }

    std::string localIP() const override;
    void bind(int localPort) override;
    bool isBound() const override { return m_listening; }
    std::vector<std::uint8_t> getData(int maxLength) override;
    int arrivalInterface() const override { return static_cast<int>(m_session->arrival); }
    void sendData(const std::vector<std::uint8_t>& data) override;
    void close() override;
    void endSearch() override;

    std::string arrivalInterfaceName() const override { return m_arrivalName; }
    std::string arrivalAddress() const override;
    bool arrivalSubnetHolds(const std::string& address) const override;
    bool arrivalInterfaceExists() const override;

    /// Reads what waits and raises DataArrival or Error; the message window's handler.
    void onSelect(std::uintptr_t socket, unsigned error);

private:
    Winsock m_winsock;
    HWND m_window = nullptr;
    std::shared_ptr<CardSession> m_session;
    std::deque<helper::Request> m_waiting;
    bool m_listening = false;
    std::string m_arrivalName;
    int m_localPort = 0;
    int m_remotePort = 0;
    std::string m_remoteHost;
};

/// Permanent neighbour entries through the card port: the entry of the card just answered,
/// under the helper's rules, and "this Windows cannot" where CreateIpNetEntry2 is missing
/// (Wine 8).
class WinNeighbourTable final : public NeighbourTable {
public:
    explicit WinNeighbourTable(std::shared_ptr<CardSession> session) : m_session(std::move(session))
    {
    }
    text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                            const std::array<std::uint8_t, 6>& mac) override;

private:
    std::shared_ptr<CardSession> m_session;
};

/// GetTickCount64: monotonic, in milliseconds.
class WinClock final : public Clock {
public:
    double seconds() override;
};

/// The interface's alias ("Ethernet"), or "interface N" when it cannot be had.
std::string interfaceName(unsigned long ifindex);

} // namespace winnet
