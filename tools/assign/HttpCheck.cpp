#include "HttpCheck.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace assign {

namespace {

constexpr auto kAttemptTime = std::chrono::seconds(3);
constexpr auto kRetryPause = std::chrono::milliseconds(500);
constexpr std::size_t kEnough = 512;

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool httpStatusLine(const std::string& t)
{
    return t.size() >= 12 && t.compare(0, 5, "HTTP/") == 0 && digit(t[5]) && t[6] == '.' &&
           digit(t[7]) && t[8] == ' ' && digit(t[9]) && digit(t[10]) && digit(t[11]) &&
           (t.size() == 12 || t[12] == ' ' || t[12] == '\r' || t[12] == '\n');
}

HttpCheck::HttpCheck(Ip ip, unsigned ifindex, Clock::time_point deadline, std::uint16_t port)
    : m_ip(ip), m_ifindex(ifindex), m_port(port), m_deadline(deadline), m_phaseEnd(Clock::now())
{
}

HttpCheck::~HttpCheck()
{
    close();
}

void HttpCheck::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

short HttpCheck::events() const
{
    return m_phase == Phase::Connecting ? POLLOUT : m_phase == Phase::Reading ? POLLIN : 0;
}

HttpCheck::Clock::time_point HttpCheck::wakeAt() const
{
    return std::min(m_phaseEnd, m_deadline);
}

void HttpCheck::failAttempt(Clock::time_point now, std::string why)
{
    close();
    m_error = std::move(why);
    m_phase = Phase::Pause;
    m_phaseEnd = now + kRetryPause;
    if (m_phaseEnd >= m_deadline) {
        m_state = State::Failed;
    }
}

void HttpCheck::startAttempt(Clock::time_point now)
{
    ++m_attempts;
    m_buffer.clear();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        failAttempt(now, std::string("socket: ") + std::strerror(errno));
        return;
    }
    // Out by the card's link, where its permanent neighbour entry is; allowed without
    // privilege since Linux 5.7, and routing decides where it is not.
    const int ifindex = static_cast<int>(m_ifindex);
    if (m_ifindex != 0) {
        ::setsockopt(m_fd, SOL_SOCKET, SO_BINDTOIFINDEX, &ifindex, sizeof ifindex);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = htonl(m_ip);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        failAttempt(now, std::strerror(errno));
        return;
    }
    m_phase = Phase::Connecting;
    m_phaseEnd = std::min(now + kAttemptTime, m_deadline);
}

void HttpCheck::step(Clock::time_point now)
{
    if (m_state != State::Running) {
        return;
    }
    pollfd p{m_fd, events(), 0};
    const bool ready = m_fd >= 0 && ::poll(&p, 1, 0) > 0;
    if (m_phase == Phase::Pause) {
        if (now >= m_phaseEnd) {
            startAttempt(now);
        }
        return;
    }
    if (!ready) {
        if (now >= m_phaseEnd) {
            failAttempt(now, m_phase == Phase::Connecting ? "no connection (timed out)"
                                                          : "no HTTP answer (timed out)");
        }
        return;
    }
    if (m_phase == Phase::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            failAttempt(now, std::strerror(error));
            return;
        }
        const std::string request =
            "GET / HTTP/1.0\r\nHost: " + ipText(m_ip) + "\r\nConnection: close\r\n\r\n";
        if (::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            failAttempt(now, std::string("send: ") + std::strerror(errno));
            return;
        }
        m_phase = Phase::Reading;
        return;
    }
    char chunk[kEnough];
    const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n > 0) {
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
    const std::size_t eol = m_buffer.find('\n');
    if (n > 0 && eol == std::string::npos && m_buffer.size() < kEnough) {
        return;
    }
    if (httpStatusLine(m_buffer)) {
        m_status = m_buffer.substr(0, std::min(m_buffer.find_first_of("\r\n"), kEnough));
        m_state = State::Answered;
        close();
        return;
    }
    failAttempt(now, n < 0              ? std::string(std::strerror(errno))
                     : m_buffer.empty() ? std::string("closed without an answer")
                                        : std::string("the answer is not HTTP"));
}

} // namespace assign
