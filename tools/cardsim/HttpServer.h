#pragma once

#include "HttpPage.h"
#include "SimLink.h"

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace cardsim {

/// Serves the cards' pages over HTTP/1.0 (and HTTPS) to many clients at once: one poll loop over
/// every listener and connection, each connection with a deadline of its own, so that a client that
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
    /// The same for a whole site; with `tls` (kept by the caller while serving) the listener
    /// speaks HTTPS.
    std::uint16_t listen(const Octets& address, std::uint16_t port, const std::string& device,
                         HttpSite site, ssl_ctx_st* tls = nullptr);

    /// Serves until `until` or until `stop` is non-zero. `waitMask` is the signal mask while
    /// waiting (as for ppoll; nullptr keeps the current one).
    void serve(Clock::time_point until, const volatile sig_atomic_t& stop, const sigset_t* waitMask,
               const Log& log = {});

    /// Requests answered so far.
    int answered() const { return answered_; }

private:
    struct Listener {
        Fd fd;
        HttpSite site;
        ssl_ctx_st* tls = nullptr;
    };
    struct FreeSsl {
        void operator()(ssl_st* ssl) const;
    };
    struct Connection {
        Fd fd;
        std::size_t listener;
        std::string head; // what the client sent: the request head, then its body
        std::string out;  // the answer, once there is one
        std::size_t sent = 0;
        Clock::time_point deadline;
        bool answering = false;
        std::unique_ptr<ssl_st, FreeSsl> ssl;
        // TLS may need to write while reading (a handshake) or read while writing.
        bool wantWrite = false;
        bool wantRead = false;
    };

    /// Bytes read (> 0), 0 at the end of the client's data, -1 when it would block (the
    /// direction to wait for is set), -2 on an error.
    long receive(Connection& c, char* buffer, std::size_t size);
    long transmit(Connection& c, const char* data, std::size_t size);
    // True when the head and the body its Content-Length announces are all there.
    static bool complete(const std::string& received);

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
