#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The main window's UDP socket (Winsock1) as the windows' behaviour uses it, in plain C++:
// settings, bind, read, send, close, and the data-arrival and error events, which the
// implementation raises on the user-interface thread through the two callbacks. Texts are
// UTF-8, addresses dotted IPv4 text.
class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;

    virtual void setLocalPort(int port) = 0;
    virtual int localPort() const = 0;
    virtual void setRemotePort(int port) = 0;
    virtual int remotePort() const = 0;
    virtual void setRemoteHost(const std::string& host) = 0;
    virtual std::string remoteHost() const = 0;

    /// This PC's IPv4 address in dotted form.
    virtual std::string localIP() const = 0;
    /// Starts receiving on the port on all interfaces; throws SearchFailure naming the cause.
    virtual void bind(int localPort) = 0;
    virtual bool isBound() const = 0;
    /// Reads the waiting datagram (at most maxLength bytes) and removes it from the queue.
    virtual std::vector<std::uint8_t> getData(int maxLength) = 0;
    /// Interface index on which the last datagram read arrived (0 if unknown).
    virtual int arrivalInterface() const = 0;
    /// Sends one datagram to the remote host and port from the local port, out of the
    /// interface the last datagram arrived on; works while closed. Throws SearchFailure.
    virtual void sendData(const std::vector<std::uint8_t>& data) = 0;
    /// Stops receiving and releases the port; harmless when closed.
    virtual void close() = 0;
    /// Closes, and ends whatever the search needed besides (a privileged helper).
    virtual void endSearch() = 0;

    // The interface the last datagram arrived on, read when asked: it may have changed.
    /// Its name when the datagram arrived, or "interface N" when it was unknown then.
    virtual std::string arrivalInterfaceName() const = 0;
    /// Its first IPv4 address in dotted form, one that is not link-local if it has such;
    /// empty when it has none.
    virtual std::string arrivalAddress() const = 0;
    /// True if address (dotted) lies in a subnet of that interface.
    virtual bool arrivalSubnetHolds(const std::string& address) const = 0;
    /// False once the interface has been removed.
    virtual bool arrivalInterfaceExists() const = 0;

    /// A datagram of bytesTotal bytes is waiting. Set by the socket's owner.
    std::function<void(std::int32_t bytesTotal)> DataArrival;
    /// An asynchronous error: its number (0 when there is none) and description (UTF-8).
    std::function<void(std::int16_t number, const std::string& description)> Error;
};
