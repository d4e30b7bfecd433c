#include "HttpCheck.h"

#include <algorithm>

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

HttpCheck::~HttpCheck() = default;

short HttpCheck::events() const
{
    return m_phase == Phase::Connecting ? TcpConnection::writable()
           : m_phase == Phase::Reading  ? TcpConnection::readable()
                                        : 0;
}

HttpCheck::Clock::time_point HttpCheck::wakeAt() const
{
    return std::min(m_phaseEnd, m_deadline);
}

void HttpCheck::failAttempt(Clock::time_point now, std::string why)
{
    m_connection.close();
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
    std::string why;
    if (!m_connection.connect(m_ip, m_port, m_ifindex, why)) {
        failAttempt(now, why);
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
    const bool ready = m_connection.handle() != kNoSocket && m_connection.ready(events());
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
    std::string why;
    if (m_phase == Phase::Connecting) {
        if (!m_connection.established(why)) {
            failAttempt(now, why);
            return;
        }
        const std::string request =
            "GET / HTTP/1.0\r\nHost: " + ipText(m_ip) + "\r\nConnection: close\r\n\r\n";
        if (!m_connection.send(request, why)) {
            failAttempt(now, why);
            return;
        }
        m_phase = Phase::Reading;
        return;
    }
    const TcpConnection::Received got = m_connection.receive(m_buffer, kEnough, why);
    if (got == TcpConnection::Received::Nothing) {
        return;
    }
    const std::size_t eol = m_buffer.find('\n');
    if (got == TcpConnection::Received::Data && eol == std::string::npos &&
        m_buffer.size() < kEnough) {
        return;
    }
    if (httpStatusLine(m_buffer)) {
        m_status = m_buffer.substr(0, std::min(m_buffer.find_first_of("\r\n"), kEnough));
        m_state = State::Answered;
        m_connection.close();
        return;
    }
    failAttempt(now, got == TcpConnection::Received::Failed ? why
                     : m_buffer.empty() ? std::string("closed without an answer")
                                        : std::string("the answer is not HTTP"));
}

} // namespace assign
