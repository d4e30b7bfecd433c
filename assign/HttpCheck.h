#pragma once

#include "TcpConnection.h"
#include "Wording.h"

#include <chrono>
#include <string>

// Proves that a card answers at its new address: a TCP connection to port 80 and a GET of /,
// where any HTTP status line counts. Cards take seconds to come up, so failed attempts are
// repeated until the deadline. Driven by the caller's poll loop: watch the socket for events()
// (fd() with poll on Linux, handle() with WSAPoll on Windows) while it is not kNoSocket, and
// call step() when it is ready or when wakeAt() has come.
namespace assign {

class HttpCheck {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Running, Answered, Failed };

    HttpCheck(Ip ip, unsigned ifindex, Clock::time_point deadline, std::uint16_t port = 80);
    ~HttpCheck();
    HttpCheck(const HttpCheck&) = delete;
    HttpCheck& operator=(const HttpCheck&) = delete;

    static constexpr std::uintptr_t kNoSocket = TcpConnection::kNone;

    /// The socket to watch: a SOCKET on Windows, a file descriptor on Linux; kNoSocket between
    /// attempts.
    std::uintptr_t handle() const { return m_connection.handle(); }
    /// The same as a file descriptor, -1 between attempts (Linux).
    int fd() const { return static_cast<int>(handle()); }
    /// POLLIN or POLLOUT of this system (the same names for poll and WSAPoll), 0 between
    /// attempts.
    short events() const;
    Clock::time_point wakeAt() const;
    void step(Clock::time_point now);

    State state() const { return m_state; }
    /// The card's status line ("HTTP/1.0 200 OK") once answered.
    const std::string& statusLine() const { return m_status; }
    /// Why the last attempt failed ("connection refused", "timed out").
    const std::string& lastError() const { return m_error; }
    int attempts() const { return m_attempts; }

private:
    enum class Phase { Pause, Connecting, Reading };
    void startAttempt(Clock::time_point now);
    void failAttempt(Clock::time_point now, std::string why);

    Ip m_ip;
    unsigned m_ifindex;
    std::uint16_t m_port;
    Clock::time_point m_deadline;
    Clock::time_point m_phaseEnd;
    Phase m_phase = Phase::Pause;
    State m_state = State::Running;
    TcpConnection m_connection;
    int m_attempts = 0;
    std::string m_buffer;
    std::string m_status;
    std::string m_error = "no attempt yet";
};

/// Whether text opens with an HTTP status line: HTTP/d.d followed by a three-digit code.
bool httpStatusLine(const std::string& text);

} // namespace assign
