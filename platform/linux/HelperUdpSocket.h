#pragma once

#include "HelperSession.h"
#include "UdpSocket.h"

#include <QString>

#include <deque>
#include <memory>

class QSocketNotifier;

// The windows' UDP socket, run by torvane-helper: the helper holds port 67 and passes on
// card requests; this side holds no privilege. Binding starts the helper, closing pauses it
// (nothing is passed on until the next bind), and ending the search ends it.
class HelperUdpSocket final : public UdpSocket {
    Q_OBJECT
public:
    explicit HelperUdpSocket(std::shared_ptr<HelperSession> session);
    ~HelperUdpSocket() override;

    QString localIP() const override;
    void bind(int localPort) override;
    bool isBound() const override { return m_listening; }
    QByteArray getData(int maxLength) override;
    int arrivalInterface() const override { return m_session->arrivalInterface; }
    void sendData(const QByteArray& data) override;
    void close() override;
    void endSearch() override;

    QString arrivalInterfaceName() const override;
    QString arrivalAddress() const override;
    bool arrivalSubnetHolds(const QString& address) const override;
    bool arrivalInterfaceExists() const override;

    /// The running helper's process id (tests read its capabilities), else -1.
    qint64 helperPid() const;

private:
    void readable();
    void dropNotifier();

    std::shared_ptr<HelperSession> m_session;
    QSocketNotifier* m_notifier = nullptr;
    std::deque<helper::Request> m_waiting;
    QString m_arrivalName; // kept from the arrival: a removed interface has no name any more
    bool m_listening = false;
};
