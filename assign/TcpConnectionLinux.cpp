#include "TcpConnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace assign {

namespace {

int fdOf(std::uintptr_t handle)
{
    return static_cast<int>(handle);
}

} // namespace

short TcpConnection::readable()
{
    return POLLIN;
}

short TcpConnection::writable()
{
    return POLLOUT;
}

bool TcpConnection::connect(Ip ip, std::uint16_t port, unsigned ifindex, std::string& why)
{
    close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    m_handle = static_cast<std::uintptr_t>(fd);
    // Out by the card's link, where its permanent neighbour entry is; allowed without
    // privilege since Linux 5.7, and routing decides where it is not.
    const int index = static_cast<int>(ifindex);
    if (ifindex != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_BINDTOIFINDEX, &index, sizeof index);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ip);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

bool TcpConnection::ready(short events) const
{
    pollfd p{fdOf(m_handle), events, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool TcpConnection::established(std::string& why)
{
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fdOf(m_handle), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        why = std::strerror(error);
        return false;
    }
    return true;
}

bool TcpConnection::send(const std::string& bytes, std::string& why)
{
    if (::send(fdOf(m_handle), bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size())) {
        why = std::string("send: ") + std::strerror(errno);
        return false;
    }
    return true;
}

TcpConnection::Received TcpConnection::receive(std::string& into, std::size_t max, std::string& why)
{
    char chunk[4096];
    const ssize_t n = ::recv(fdOf(m_handle), chunk, std::min(max, sizeof chunk), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return Received::Nothing;
    }
    if (n < 0) {
        why = std::strerror(errno);
        return Received::Failed;
    }
    if (n == 0) {
        return Received::Closed;
    }
    into.append(chunk, static_cast<std::size_t>(n));
    return Received::Data;
}

void TcpConnection::close()
{
    if (m_handle != kNone) {
        ::close(fdOf(m_handle));
        m_handle = kNone;
    }
}

} // namespace assign
