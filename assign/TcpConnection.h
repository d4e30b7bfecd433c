#pragma once

#include "Wording.h"

#include <cstdint>
#include <string>

namespace assign {

/// One non-blocking TCP connection of the page check on the system's sockets
/// (TcpConnectionLinux.cpp, TcpConnectionWindows.cpp); HttpCheck holds the rules. A call that
/// fails says why in words for the operator's report.
class TcpConnection {
public:
    /// No socket: -1 as a file descriptor, INVALID_SOCKET on Windows.
    static constexpr std::uintptr_t kNone = ~std::uintptr_t{0};

    TcpConnection() = default;
    ~TcpConnection() { close(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    /// The poll bits (POLLIN, POLLOUT) of this system, for poll or WSAPoll.
    static short readable();
    static short writable();

    /// Starts connecting to ip:port, out of interface ifindex when it is not 0; false and why
    /// when it could not start.
    bool connect(Ip ip, std::uint16_t port, unsigned ifindex, std::string& why);
    /// Whether events are ready now, an error or a hang-up included.
    bool ready(short events) const;
    /// Once the connection is writable: false and why when it failed.
    bool established(std::string& why);
    /// Sends all of bytes at once; false and why when it could not.
    bool send(const std::string& bytes, std::string& why);

    enum class Received { Data, Nothing, Closed, Failed };
    /// Appends up to max bytes that wait to into: Nothing when none waits yet, Closed at the
    /// end of the stream, Failed with why.
    Received receive(std::string& into, std::size_t max, std::string& why);

    void close();
    std::uintptr_t handle() const { return m_handle; }

private:
    std::uintptr_t m_handle = kNone;
};

} // namespace assign
