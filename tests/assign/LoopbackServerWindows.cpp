#include "TestSupport.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>

namespace assign::test {

namespace {

SOCKET socketOf(std::uintptr_t socket)
{
    return static_cast<SOCKET>(socket);
}

std::uintptr_t openSocket()
{
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    return static_cast<std::uintptr_t>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

} // namespace

LoopbackServer::LoopbackServer() : m_socket(openSocket())
{
    // Alone on the port, so that no earlier socket's connections reach this one.
    const BOOL on = TRUE;
    ::setsockopt(socketOf(m_socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ::bind(socketOf(m_socket), reinterpret_cast<sockaddr*>(&a), sizeof a);
    int length = sizeof a;
    ::getsockname(socketOf(m_socket), reinterpret_cast<sockaddr*>(&a), &length);
    port = ::ntohs(a.sin_port);
}

LoopbackServer::~LoopbackServer()
{
    ::closesocket(socketOf(m_socket));
    ::WSACleanup();
}

void LoopbackServer::listen()
{
    ::listen(socketOf(m_socket), 4);
}

void LoopbackServer::answerOnce(const std::string& text)
{
    const SOCKET c = ::accept(socketOf(m_socket), nullptr, nullptr);
    char buffer[512];
    request.assign(buffer,
                   static_cast<std::size_t>(std::max(0, ::recv(c, buffer, sizeof buffer, 0))));
    ::send(c, text.data(), static_cast<int>(text.size()), 0);
    ::shutdown(c, SD_SEND);
    ::closesocket(c);
}

} // namespace assign::test
