#include "TcpConnection.h"

#include "AssignWin32.h"

#include <algorithm>

namespace assign {

namespace {

SOCKET socketOf(std::uintptr_t handle)
{
    return static_cast<SOCKET>(handle);
}

std::string lastError(const char* call)
{
    return winnet::describe({call, static_cast<unsigned long>(::WSAGetLastError())});
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
    if (const int error = win::winsockError(); error != 0) {
        why = winnet::describe({"WSAStartup", static_cast<unsigned long>(error)});
        return false;
    }
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        why = lastError("WSASocketW");
        return false;
    }
    m_handle = static_cast<std::uintptr_t>(s);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        why = lastError("ioctlsocket");
        return false;
    }
    // Out by the card's link, where its permanent neighbour entry is, whatever the routing
    // table says (the index in network byte order for IPv4); routing decides where it is
    // refused, as on Linux.
    if (ifindex != 0) {
        const DWORD index = ::htonl(ifindex);
        ::setsockopt(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index),
                     sizeof index);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    to.sin_addr.s_addr = ::htonl(ip);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        why = lastError("connect");
        return false;
    }
    return true;
}

bool TcpConnection::ready(short events) const
{
    WSAPOLLFD p{socketOf(m_handle), events, 0};
    return ::WSAPoll(&p, 1, 0) > 0;
}

bool TcpConnection::established(std::string& why)
{
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socketOf(m_handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        why = lastError("getsockopt");
        return false;
    }
    if (error != 0) {
        why = winnet::describe({"connect", static_cast<unsigned long>(error)});
        return false;
    }
    return true;
}

bool TcpConnection::send(const std::string& bytes, std::string& why)
{
    if (::send(socketOf(m_handle), bytes.data(), static_cast<int>(bytes.size()), 0) !=
        static_cast<int>(bytes.size())) {
        why = lastError("send");
        return false;
    }
    return true;
}

TcpConnection::Received TcpConnection::receive(std::string& into, std::size_t max, std::string& why)
{
    char chunk[4096];
    const int n =
        ::recv(socketOf(m_handle), chunk, static_cast<int>(std::min(max, sizeof chunk)), 0);
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        return Received::Nothing;
    }
    if (n == SOCKET_ERROR) {
        why = lastError("recv");
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
        ::closesocket(socketOf(m_handle));
        m_handle = kNone;
    }
}

} // namespace assign
