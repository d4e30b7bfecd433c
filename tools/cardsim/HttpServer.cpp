#include "HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cardsim {

namespace {

// A request head longer than this is answered as it stands.
constexpr std::size_t kMaxHead = 8192;
// A body is read up to this size (a firmware image); anything beyond is not waited for.
constexpr std::size_t kMaxBody = 64 * 1024 * 1024;

timespec until(HttpServer::Clock::time_point when, HttpServer::Clock::time_point now)
{
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::max(when - now, HttpServer::Clock::duration::zero()));
    // An hour at most: the loop looks again, and no time_t can overflow.
    const long long ns = std::min<long long>(left.count(), 3600LL * 1'000'000'000);
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

} // namespace

HttpServer::HttpServer(Clock::duration connectionDeadline) : deadline_(connectionDeadline) {}

void HttpServer::FreeSsl::operator()(ssl_st* ssl) const
{
    SSL_free(ssl);
}

std::uint16_t HttpServer::listen(const Octets& address, std::uint16_t port,
                                 const std::string& device, std::string page)
{
    return listen(address, port, device, HttpSite{std::move(page), {}, {}});
}

std::uint16_t HttpServer::listen(const Octets& address, std::uint16_t port,
                                 const std::string& device, HttpSite site, ssl_ctx_st* tls)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        throw SysError("socket", errno);
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Tied to its card's interface, a page answers only frames sent to that card's MAC.
    if (!device.empty() && ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                                        static_cast<socklen_t>(device.size() + 1)) < 0) {
        throw SysError("SO_BINDTODEVICE " + device, errno);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    std::memcpy(&local.sin_addr, address.data(), 4);
    const std::string where = dotted(address) + ":" + std::to_string(port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        throw SysError("bind " + where, errno);
    }
    if (::listen(fd.get(), static_cast<int>(kMaxConnections)) < 0) {
        throw SysError("listen " + where, errno);
    }
    socklen_t length = sizeof local;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length);
    listeners_.push_back({std::move(fd), std::move(site), tls});
    return ntohs(local.sin_port);
}

void HttpServer::acceptFrom(std::size_t listener, Clock::time_point now)
{
    for (;;) {
        if (connections_.size() >= kMaxConnections) {
            // Room for the newcomer: the silent client that has waited longest goes.
            auto oldest = connections_.end();
            for (auto c = connections_.begin(); c != connections_.end(); ++c) {
                if (!c->answering &&
                    (oldest == connections_.end() || c->deadline < oldest->deadline)) {
                    oldest = c;
                }
            }
            if (oldest == connections_.end()) {
                return; // every one is being answered; the newcomer waits in the backlog
            }
            connections_.erase(oldest);
        }
        Fd fd(::accept4(listeners_[listener].fd.get(), nullptr, nullptr,
                        SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (fd.get() < 0) {
            return; // EAGAIN, or the client gave up before we took it
        }
        std::unique_ptr<ssl_st, FreeSsl> ssl;
        if (ssl_ctx_st* tls = listeners_[listener].tls) {
            ssl.reset(SSL_new(tls));
            if (!ssl || SSL_set_fd(ssl.get(), fd.get()) != 1) {
                continue;
            }
            SSL_set_accept_state(ssl.get());
        }
        connections_.push_back(
            {std::move(fd), listener, {}, {}, 0, now + deadline_, false, std::move(ssl)});
    }
}

long HttpServer::receive(Connection& c, char* buffer, std::size_t size)
{
    if (!c.ssl) {
        const ssize_t n = ::recv(c.fd.get(), buffer, size, 0);
        if (n < 0) {
            return errno == EAGAIN || errno == EINTR ? -1 : -2;
        }
        return n;
    }
    ERR_clear_error();
    const int n = SSL_read(c.ssl.get(), buffer, static_cast<int>(size));
    if (n > 0) {
        return n;
    }
    switch (SSL_get_error(c.ssl.get(), n)) {
    case SSL_ERROR_WANT_READ:
        c.wantWrite = false;
        return -1;
    case SSL_ERROR_WANT_WRITE:
        c.wantWrite = true;
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    default:
        // A client that refuses the certificate ends the handshake with an alert.
        return -2;
    }
}

long HttpServer::transmit(Connection& c, const char* data, std::size_t size)
{
    if (!c.ssl) {
        const ssize_t n = ::send(c.fd.get(), data, size, MSG_NOSIGNAL);
        if (n < 0) {
            return errno == EAGAIN || errno == EINTR ? -1 : -2;
        }
        return n;
    }
    ERR_clear_error();
    const int n = SSL_write(c.ssl.get(), data, static_cast<int>(size));
    if (n > 0) {
        return n;
    }
    switch (SSL_get_error(c.ssl.get(), n)) {
    case SSL_ERROR_WANT_WRITE:
        c.wantRead = false;
        return -1;
    case SSL_ERROR_WANT_READ:
        c.wantRead = true;
        return -1;
    default:
        return -2;
    }
}

bool HttpServer::complete(const std::string& received)
{
    const auto end = received.find("\r\n\r\n");
    if (end == std::string::npos) {
        return received.size() >= kMaxHead;
    }
    const auto length = contentLength(std::string_view(received).substr(0, end + 2));
    // A length that is no number, or too large, is not waited for.
    return !length || *length > kMaxBody || received.size() >= end + 4 + *length;
}

void HttpServer::answer(Connection& c, Clock::time_point now, const Log& log)
{
    const std::string_view received = c.head;
    const auto end = received.find("\r\n\r\n");
    const std::string_view head =
        end == std::string_view::npos ? received : received.substr(0, end + 4);
    const std::string_view body =
        end == std::string_view::npos ? std::string_view{} : received.substr(end + 4);
    const HttpAnswer a = answerHttp(head, body, listeners_[c.listener].site);
    c.out = a.bytes;
    c.answering = true;
    c.deadline = now + deadline_;
    ++answered_;
    if (log) {
        log(a);
    }
}

bool HttpServer::readFrom(Connection& c, Clock::time_point now, const Log& log)
{
    char chunk[16384];
    for (;;) {
        const long n = receive(c, chunk, sizeof chunk);
        if (n == -1) {
            return true;
        }
        if (n <= 0) {
            if (c.head.empty() || n == -2) {
                return false; // the client went away without asking
            }
            break;
        }
        c.head.append(chunk, static_cast<std::size_t>(n));
        if (complete(c.head)) {
            break;
        }
    }
    answer(c, now, log);
    return writeTo(c);
}

bool HttpServer::writeTo(Connection& c)
{
    while (c.sent < c.out.size()) {
        const long n = transmit(c, c.out.data() + c.sent, c.out.size() - c.sent);
        if (n == -1) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        c.sent += static_cast<std::size_t>(n);
    }
    if (c.ssl) {
        SSL_shutdown(c.ssl.get()); // close_notify; the client's answer is not waited for
    }
    ::shutdown(c.fd.get(), SHUT_WR);
    return false;
}

void HttpServer::serve(Clock::time_point end, const volatile sig_atomic_t& stop,
                       const sigset_t* waitMask, const Log& log)
{
    std::vector<pollfd> polled;
    while (stop == 0) {
        auto now = Clock::now();
        if (now >= end) {
            break;
        }
        // Deadlines: a silent client with a partial head is answered as it stands; one with
        // nothing, or one that does not take its answer, is closed.
        for (auto c = connections_.begin(); c != connections_.end();) {
            if (c->deadline > now) {
                ++c;
            } else if (!c->answering && !c->head.empty()) {
                answer(*c, now, log);
                ++c;
            } else {
                c = connections_.erase(c);
            }
        }
        auto wake = end;
        polled.clear();
        for (const Listener& l : listeners_) {
            polled.push_back({l.fd.get(), POLLIN, 0});
        }
        for (const Connection& c : connections_) {
            const bool out = c.answering ? !c.wantRead : c.wantWrite;
            polled.push_back({c.fd.get(), static_cast<short>(out ? POLLOUT : POLLIN), 0});
            wake = std::min(wake, c.deadline);
        }
        const timespec timeout = until(wake, now);
        const int n = ::ppoll(polled.data(), polled.size(), &timeout, waitMask);
        if (n < 0 && errno != EINTR) {
            throw SysError("ppoll", errno);
        }
        if (n <= 0) {
            continue;
        }
        now = Clock::now();
        // Connections first: accepting may reorder the list, the polled entries follow it.
        std::vector<bool> done(connections_.size(), false);
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            const short events = polled[listeners_.size() + i].revents;
            if (events == 0) {
                continue;
            }
            Connection& c = connections_[i];
            done[i] = c.answering ? !writeTo(c) : !readFrom(c, now, log);
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            if (!done[i]) {
                if (kept != i) {
                    connections_[kept] = std::move(connections_[i]);
                }
                ++kept;
            }
        }
        connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(kept),
                           connections_.end());
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            if (polled[i].revents != 0) {
                acceptFrom(i, now);
            }
        }
    }
    connections_.clear();
}

} // namespace cardsim
