#pragma once

#include "FatalError.h"
#include "PlainFakes.h"
#include "SearchFailure.h"
#include "UdpSocket.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// A socket that records what the window does with it and hands out canned datagrams.
class FakeUdpSocket final : public UdpSocket {
public:
    QString localAddress = QStringLiteral("192.168.0.5");
    /// The arrival interface as the window asks about it.
    QString interfaceName = QStringLiteral("eth9");
    QString interfaceAddress = QStringLiteral("192.168.0.5");
    int interfacePrefix = 24;
    bool interfaceExists = true;
    int endSearches = 0;
    /// When set, sendData throws this.
    std::function<void()> failSend;
    bool bound = false;
    int binds = 0;
    int closes = 0;
    int reads = 0;
    std::deque<QByteArray> queue;
    int queueInterface = 9999; // no such interface here
    struct Sent {
        QByteArray data;
        QString host;
        int port;
        int localPort;
        int interface;
        bool listenerOpen;
    };
    QList<Sent> sent;
    /// When set, bind throws this.
    std::function<void()> failBind;

    QString localIP() const override { return localAddress; }
    void bind(int port) override
    {
        ++binds;
        if (failBind) {
            failBind();
        }
        setLocalPort(port);
        bound = true;
    }
    bool isBound() const override { return bound; }
    QByteArray getData(int maxLength) override
    {
        ++reads;
        if (queue.empty()) {
            return {};
        }
        QByteArray d = queue.front().left(maxLength);
        queue.pop_front();
        return d;
    }
    int arrivalInterface() const override { return queueInterface; }
    void sendData(const QByteArray& data) override
    {
        if (failSend) {
            failSend();
        }
        sent.append({data, remoteHost(), remotePort(), localPort(), queueInterface, bound});
    }
    void close() override
    {
        ++closes;
        bound = false;
    }
    void endSearch() override
    {
        ++endSearches;
        close();
    }
    QString arrivalInterfaceName() const override { return interfaceName; }
    QString arrivalAddress() const override { return interfaceAddress; }
    bool arrivalSubnetHolds(const QString& address) const override
    {
        const auto value = [](const QString& dotted) {
            quint32 v = 0;
            for (const QString& part : dotted.split(QLatin1Char('.'))) {
                v = v << 8 | part.toUInt();
            }
            return v;
        };
        const quint32 mask = interfacePrefix == 0 ? 0 : ~quint32(0) << (32 - interfacePrefix);
        return !interfaceAddress.isEmpty() &&
               (value(address) & mask) == (value(interfaceAddress) & mask);
    }
    bool arrivalInterfaceExists() const override { return interfaceExists; }
    /// Queues a datagram and raises the data-arrival event, as the real socket does.
    void deliver(const QByteArray& datagram)
    {
        queue.push_back(datagram);
        emit DataArrival(static_cast<qint32>(datagram.size()));
    }
};
