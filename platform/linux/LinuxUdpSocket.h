#pragma once

#include "UdpSocket.h"

#include <QString>

class QSocketNotifier;

// UDP socket on a plain POSIX descriptor. The listener has no SO_REUSEADDR, so a second
// DHCP/BOOTP server on the PC makes the bind fail instead of silently sharing broadcasts, and
// IP_PKTINFO tells on which interface each datagram arrived, so the reply can leave by it.
class LinuxUdpSocket final : public UdpSocket {
    Q_OBJECT
public:
    LinuxUdpSocket();
    ~LinuxUdpSocket() override;

    QString localIP() const override;
    void bind(int localPort) override;
    bool isBound() const override { return m_fd >= 0; }
    QByteArray getData(int maxLength) override;
    int arrivalInterface() const override { return m_arrivalIf; }
    void sendData(const QByteArray& data) override;
    void close() override;

private:
    void readable();
    int pendingSize() const;

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    int m_arrivalIf = 0;
    quint64 m_reads = 0;
};

/// Which process holds the local UDP port, as "name (pid N)", or empty when it cannot be seen.
QString udpPortHolder(int port);

/// The IPv4 address of the interface holding the default route; else the first interface that
/// is up, not loopback, with an IPv4 address; else 127.0.0.1.
QString defaultLocalAddress();
