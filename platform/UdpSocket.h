#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The main window's UDP socket (Winsock1): settings, bind, read, send, close, and the
// data-arrival and error events, delivered on the UI thread.
class UdpSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UdpSocket() override = default;

    void setLocalPort(int port) { m_localPort = port; }
    int localPort() const { return m_localPort; }
    void setRemotePort(int port) { m_remotePort = port; }
    int remotePort() const { return m_remotePort; }
    void setRemoteHost(const QString& host) { m_remoteHost = host; }
    const QString& remoteHost() const { return m_remoteHost; }

    /// This PC's IPv4 address in dotted form.
    virtual QString localIP() const = 0;
    /// Starts receiving on the port on all interfaces; throws SearchFailure naming the cause.
    virtual void bind(int localPort) = 0;
    virtual bool isBound() const = 0;
    /// Reads the waiting datagram (at most maxLength bytes) and removes it from the queue.
    virtual QByteArray getData(int maxLength) = 0;
    /// Interface index on which the last datagram read arrived (0 if unknown).
    virtual int arrivalInterface() const = 0;
    /// Sends one datagram to the remote host and port from the local port, out of the
    /// interface the last datagram arrived on; works while closed. Throws SearchFailure.
    virtual void sendData(const QByteArray& data) = 0;
    /// Stops receiving and releases the port; harmless when closed.
    virtual void close() = 0;
    /// Closes, and ends whatever the search needed besides (the privileged helper).
    virtual void endSearch() { close(); }

    // The interface the last datagram arrived on, read when asked: it may have changed.
    /// Its name when the datagram arrived, or "interface N" when it was unknown then.
    virtual QString arrivalInterfaceName() const = 0;
    /// Its first IPv4 address in dotted form; empty when it has none.
    virtual QString arrivalAddress() const = 0;
    /// True if address (dotted) lies in a subnet of that interface.
    virtual bool arrivalSubnetHolds(const QString& address) const = 0;
    /// False once the interface has been removed.
    virtual bool arrivalInterfaceExists() const = 0;

signals:
    void DataArrival(qint32 bytesTotal);
    void Error(qint16 number, const QString& description);

private:
    int m_localPort = 0;
    int m_remotePort = 0;
    QString m_remoteHost;
};
