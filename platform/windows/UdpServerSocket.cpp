#include "WinNet.h"

#include "Win32.h"

#include <algorithm>
#include <cstring>

namespace winnet {

namespace {

Failure lastError(const char* call)
{
    return {call, static_cast<unsigned long>(::WSAGetLastError())};
}

bool setOption(SOCKET s, int level, int name, DWORD value)
{
    return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

/// Closes a socket that open() gives up on.
struct Closer {
    SOCKET s;
    ~Closer()
    {
        if (s != INVALID_SOCKET) {
            ::closesocket(s);
        }
    }
};

} // namespace

Result<UdpServerSocket> UdpServerSocket::open(std::uint16_t port, const bootp::Ipv4& local)
{
    Closer socket{::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED)};
    if (socket.s == INVALID_SOCKET) {
        return lastError("WSASocket");
    }
    // Without it a second server could bind the port with SO_REUSEADDR and take the
    // requests; with it, that bind fails and the operator learns who holds the port.
    if (!setOption(socket.s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, TRUE)) {
        return lastError("SO_EXCLUSIVEADDRUSE");
    }
    if (!setOption(socket.s, SOL_SOCKET, SO_BROADCAST, TRUE)) {
        return lastError("SO_BROADCAST");
    }
    if (!setOption(socket.s, IPPROTO_IP, IP_PKTINFO, TRUE)) {
        return lastError("IP_PKTINFO");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    std::memcpy(&address.sin_addr, local.data(), 4);
    if (::bind(socket.s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return lastError("bind");
    }
    int length = sizeof address;
    if (::getsockname(socket.s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return lastError("getsockname");
    }
    // WSARecvMsg is an extension: its address is asked of the socket's provider.
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG recvMsg = nullptr;
    DWORD size = 0;
    if (::WSAIoctl(socket.s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &recvMsg,
                   sizeof recvMsg, &size, nullptr, nullptr) != 0 ||
        recvMsg == nullptr) {
        return lastError("WSAID_WSARECVMSG");
    }
    UdpServerSocket out;
    out.m_socket = socket.s;
    out.m_port = ::ntohs(address.sin_port);
    out.m_recvMsg = reinterpret_cast<void*>(recvMsg);
    socket.s = INVALID_SOCKET;
    return out;
}

UdpServerSocket::UdpServerSocket(UdpServerSocket&& other) noexcept
    : m_socket(std::exchange(other.m_socket, INVALID_SOCKET)), m_port(other.m_port),
      m_recvMsg(other.m_recvMsg)
{
}

UdpServerSocket& UdpServerSocket::operator=(UdpServerSocket&& other) noexcept
{
    if (this != &other) {
        close();
        m_socket = std::exchange(other.m_socket, INVALID_SOCKET);
        m_port = other.m_port;
        m_recvMsg = other.m_recvMsg;
    }
    return *this;
}

UdpServerSocket::~UdpServerSocket()
{
    close();
}

void UdpServerSocket::close()
{
    if (m_socket != INVALID_SOCKET) {
        ::closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

Result<Done> UdpServerSocket::notify(HWND window, unsigned message)
{
    if (::WSAAsyncSelect(m_socket, window, message, FD_READ) != 0) {
        return lastError("WSAAsyncSelect");
    }
    return Done{};
}

Result<bool> UdpServerSocket::waitReadable(int milliseconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int n = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (n == SOCKET_ERROR) {
        return lastError("select");
    }
    return n > 0;
}

Result<std::optional<Datagram>> UdpServerSocket::receive(std::size_t maxLength)
{
    Datagram d;
    d.bytes.resize(std::max<std::size_t>(maxLength, 1));
    sockaddr_in from{};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))]{};
    WSABUF data{static_cast<ULONG>(d.bytes.size()), reinterpret_cast<char*>(d.bytes.data())};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    DWORD received = 0;
    const auto recvMsg = reinterpret_cast<LPFN_WSARECVMSG>(m_recvMsg);
    if (recvMsg(m_socket, &message, &received, nullptr, nullptr) != 0) {
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            return std::optional<Datagram>{};
        }
        if (error != WSAEMSGSIZE) {
            return Failure{"WSARecvMsg", static_cast<unsigned long>(error)};
        }
        d.truncated = true;
        received = static_cast<DWORD>(d.bytes.size());
    }
    d.truncated = d.truncated || (message.dwFlags & MSG_TRUNC) != 0;
    d.bytes.resize(received);
    std::memcpy(d.source.data(), &from.sin_addr, 4);
    d.sourcePort = ::ntohs(from.sin_port);
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
         c = WSA_CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
            c->cmsg_len >= WSA_CMSG_LEN(sizeof(IN_PKTINFO))) {
            IN_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
            d.ifindex = info.ipi_ifindex;
            std::memcpy(d.destination.data(), &info.ipi_addr, 4); // the IPv4 header's
        }
    }
    if (d.ifindex == 0) {
        return Failure{"IP_PKTINFO", static_cast<unsigned long>(WSAEOPNOTSUPP)};
    }
    return std::optional<Datagram>{std::move(d)};
}

Result<Done> UdpServerSocket::broadcast(std::span<const std::uint8_t> bytes, unsigned long ifindex,
                                        std::uint16_t port)
{
    if (ifindex == 0) {
        return Failure{"IP_UNICAST_IF", static_cast<unsigned long>(WSAEINVAL)};
    }
    // The interface index in network byte order, as IP_UNICAST_IF takes it for IPv4.
    if (!setOption(m_socket, IPPROTO_IP, IP_UNICAST_IF, ::htonl(ifindex))) {
        return lastError("IP_UNICAST_IF");
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    to.sin_addr.s_addr = INADDR_BROADCAST;
    const int sent = ::sendto(m_socket, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<int>(bytes.size()), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const Failure sendFailure = lastError("sendto");
    // Back to the routing table's choice, so the option narrows nothing after this send.
    const bool reset = setOption(m_socket, IPPROTO_IP, IP_UNICAST_IF, 0);
    if (sent != static_cast<int>(bytes.size())) {
        return sent == SOCKET_ERROR ? sendFailure
                                    : Failure{"sendto", static_cast<unsigned long>(WSAEMSGSIZE)};
    }
    if (!reset) {
        return lastError("IP_UNICAST_IF");
    }
    return Done{};
}

} // namespace winnet
