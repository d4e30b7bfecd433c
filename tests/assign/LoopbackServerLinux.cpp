#include "TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace assign::test {

namespace {

int fdOf(std::uintptr_t socket)
{
    return static_cast<int>(socket);
}

} // namespace

LoopbackServer::LoopbackServer()
    : m_socket(static_cast<std::uintptr_t>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)))
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fdOf(m_socket), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(fdOf(m_socket), reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
}

LoopbackServer::~LoopbackServer()
{
    ::close(fdOf(m_socket));
}

void LoopbackServer::listen()
{
    ::listen(fdOf(m_socket), 4);
}

void LoopbackServer::answerOnce(const std::string& text)
{
    const int c = ::accept(fdOf(m_socket), nullptr, nullptr);
    char buffer[512];
    request.assign(buffer, static_cast<std::size_t>(
                               std::max<ssize_t>(0, ::recv(c, buffer, sizeof buffer, 0))));
    ::send(c, text.data(), text.size(), MSG_NOSIGNAL);
    ::close(c);
}

} // namespace assign::test
