#pragma once

#include "DatagramSocket.h"
#include "UdpSocket.h"

#include <QMetaObject>

// The Qt socket (UdpSocket) as the plain socket that the windows' behaviour uses: texts and
// bytes converted at this edge, the signals passed on to the two callbacks.
class QtDatagramSocket final : public DatagramSocket {
public:
    explicit QtDatagramSocket(UdpSocket& socket);
    ~QtDatagramSocket() override;
    QtDatagramSocket(const QtDatagramSocket&) = delete;
    QtDatagramSocket& operator=(const QtDatagramSocket&) = delete;

    void setLocalPort(int port) override { m_socket.setLocalPort(port); }
    int localPort() const override { return m_socket.localPort(); }
    void setRemotePort(int port) override { m_socket.setRemotePort(port); }
    int remotePort() const override { return m_socket.remotePort(); }
    void setRemoteHost(const std::string& host) override;
    std::string remoteHost() const override { return m_socket.remoteHost().toStdString(); }
    std::string localIP() const override { return m_socket.localIP().toStdString(); }
    void bind(int localPort) override { m_socket.bind(localPort); }
    bool isBound() const override { return m_socket.isBound(); }
    std::vector<std::uint8_t> getData(int maxLength) override;
    int arrivalInterface() const override { return m_socket.arrivalInterface(); }
    void sendData(const std::vector<std::uint8_t>& data) override;
    void close() override { m_socket.close(); }
    void endSearch() override { m_socket.endSearch(); }
    std::string arrivalInterfaceName() const override;
    std::string arrivalAddress() const override;
    bool arrivalSubnetHolds(const std::string& address) const override;
    bool arrivalInterfaceExists() const override { return m_socket.arrivalInterfaceExists(); }

private:
    UdpSocket& m_socket;
    QMetaObject::Connection m_arrival;
    QMetaObject::Connection m_error;
};
