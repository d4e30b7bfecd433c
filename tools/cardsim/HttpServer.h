#pragma once

#include "HttpPage.h"
#include "Link.h"

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cardsim {

/// Serves the cards' pages over HTTP/1.0 to many clients at once: one poll loop over every
/// listener and connection, each connection with a deadline of its own, so that a client that
/// connects and says nothing holds up nobody else.
class HttpServer {
public:
    using Clock = std::chrono::steady_clock;
    /// Called after each answer, for the log.
    using Log = std::function<void(const HttpAnswer&)>;

    /// Open connections at most; a new client beyond that closes the oldest one still silent.
    static constexpr std::size_t kMaxConnections = 256;

    explicit HttpServer(Clock::duration connectionDeadline = std::chrono::seconds(5));

    /// Listens on address:port (port 0: one the kernel picks), tied to `device` unless it is
    /// empty, and answers `page` there. Returns the port. Throws SysError.
    std::uint16_t listen(const Octets& address, std::uint16_t port, const std::string& device,
                         std::string page);

    /// Serves until `until` or until `stop` is non-zero. `waitMask` is the signal mask while
    /// waiting (as for ppoll; nullptr keeps the current one).
    void serve(Clock::time_point until, const volatile sig_atomic_t& stop, const sigset_t* waitMask,
               const Log& log = {});

    /// Requests answered so far.
    int answered() const { return answered_; }

private:
    struct Listener {
        Fd fd;
        std::string page;
    };
    struct Connection {
        Fd fd;
        std::size_t listener;
        std::string head;
        std::string out; // the answer, once there is one
        std::size_t sent = 0;
        Clock::time_point deadline;
        bool answering = false;
    };

    void acceptFrom(std::size_t listener, Clock::time_point now);
    // Each returns false when the connection is finished and may be closed.
    bool readFrom(Connection& c, Clock::time_point now, const Log& log);
    bool writeTo(Connection& c);
    void answer(Connection& c, Clock::time_point now, const Log& log);

    Clock::duration deadline_;
    std::vector<Listener> listeners_;
    std::vector<Connection> connections_;
    int answered_ = 0;
};

} // namespace cardsim
