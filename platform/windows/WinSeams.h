#pragma once

#include "Clock.h"
#include "DatagramSocket.h"
#include "NeighbourTable.h"
#include "WinNet.h"

#include <optional>

// The behaviour's plain seams (platform/seams) on Winsock and the IP Helper API, for
// torvane.exe. Everything runs on the one user-interface thread: the socket's events come as
// window messages to a message-only window of its own.
namespace winnet {

class WinDatagramSocket final : public DatagramSocket {
public:
    WinDatagramSocket();
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
    bool isBound() const override { return m_socket.has_value(); }
    std::vector<std::uint8_t> getData(int maxLength) override;
    int arrivalInterface() const override { return static_cast<int>(m_arrival); }
    void sendData(const std::vector<std::uint8_t>& data) override;
    void close() override;
    void endSearch() override { close(); }

    std::string arrivalInterfaceName() const override { return m_arrivalName; }
    std::string arrivalAddress() const override;
    bool arrivalSubnetHolds(const std::string& address) const override;
    bool arrivalInterfaceExists() const override;

    /// Reads what waits and raises DataArrival or Error; the message window's handler.
    void onSelect(std::uintptr_t socket, unsigned error);

private:
    Winsock m_winsock;
    HWND m_window = nullptr;
    std::optional<UdpServerSocket> m_socket;
    std::optional<Datagram> m_pending;
    unsigned long m_arrival = 0;
    std::string m_arrivalName;
    int m_localPort = 0;
    int m_remotePort = 0;
    std::string m_remoteHost;
};

/// Permanent neighbour entries through addPermanentNeighbour: the helper's rules, and "this
/// Windows cannot" where CreateIpNetEntry2 is missing (Wine 8).
class WinNeighbourTable final : public NeighbourTable {
public:
    text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                            const std::array<std::uint8_t, 6>& mac) override;
};

/// GetTickCount64: monotonic, in milliseconds.
class WinClock final : public Clock {
public:
    double seconds() override;
};

/// The interface's alias ("Ethernet"), or "interface N" when it cannot be had.
std::string interfaceName(unsigned long ifindex);

/// The text of a neighbour outcome as the behaviour reports it; empty when written.
text::Twin neighbourOutcomeText(const NeighbourOutcome& outcome);

} // namespace winnet
