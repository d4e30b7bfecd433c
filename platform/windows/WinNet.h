#pragma once

#include "Addresses.h"
#include "Protocol.h"
#include "Rules.h"

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// windows.h stays out of this header, so that code shared with Linux can include it; HWND is
// declared as windows.h declares it.
struct HWND__;
using HWND = HWND__*;

// The network services of the Windows programs (the Win32 front-end and torvane-assign.exe)
// on plain Winsock and the IP Helper API. Every query gives its whole answer or the error
// that stopped it: a failed query never passes for "nothing there".
namespace winnet {

/// The call that failed and its Winsock or Win32 error code.
struct Failure {
    const char* call = "";
    unsigned long code = 0;
};

/// "WSARecvMsg: <the system's text> (10054)", for stderr and the report of a failure.
std::string describe(const Failure& failure);
/// The same without the call: "<the system's text> (10054)".
std::string systemMessage(unsigned long code);

/// The errno nearest to a Winsock or Win32 error code, so that a front-end words a failure of
/// this process as it words the helper's. ERROR_ACCESS_DENIED, which only an administrator
/// escapes, is EPERM; WSAEACCES is EACCES.
int errnoOf(unsigned long code);

/// A failure as the helper answers one: the nearest errno, the call and its code for stderr.
helper::Answer failedAnswer(const Failure& failure);

template <typename T> class Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure f) : m_failure(f)
    {
        if (m_failure.code == 0) {
            m_failure.code = 1627; // ERROR_FUNCTION_FAILED: a failure is never success
        }
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return m_failure; }

    const T& value() const
    {
        if (!ok()) {
            throw std::logic_error(std::string("winnet: the value of a failed ") + m_failure.call +
                                   " was read");
        }
        return *m_value;
    }
    T& value() { return const_cast<T&>(std::as_const(*this).value()); }
    const T& operator*() const { return value(); }
    T& operator*() { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

/// The value of a call that answers nothing but success.
struct Done {};

/// Winsock 2.2 for the life of the object; every socket call needs one.
class Winsock {
public:
    Winsock();
    ~Winsock();
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    /// 0, or the error of WSAStartup.
    int error() const { return m_error; }

private:
    int m_error = 0;
};

/// One datagram as it arrived.
struct Datagram {
    std::vector<std::uint8_t> bytes;
    bootp::Ipv4 source{};
    std::uint16_t sourcePort = 0;
    /// The interface it came in on (IP_PKTINFO), the index GetAdaptersAddresses gives.
    unsigned long ifindex = 0;
    /// The address it was sent to (IP_PKTINFO): 255.255.255.255 for a broadcast.
    bootp::Ipv4 destination{};
    /// Longer than the buffer: the bytes are its start only.
    bool truncated = false;
};

/// The server's UDP socket: port 67 in, broadcasts to port 68 out.
class UdpServerSocket {
public:
    /// Binds local:port for this socket alone (SO_EXCLUSIVEADDRUSE: another server's bind
    /// fails, SO_REUSEADDR or not, instead of sharing the port and its broadcasts), with
    /// SO_BROADCAST and IP_PKTINFO on. Port 0 takes a free port (tests).
    static Result<UdpServerSocket> open(std::uint16_t port, const bootp::Ipv4& local = {});

    UdpServerSocket(UdpServerSocket&& other) noexcept;
    UdpServerSocket& operator=(UdpServerSocket&& other) noexcept;
    UdpServerSocket(const UdpServerSocket&) = delete;
    UdpServerSocket& operator=(const UdpServerSocket&) = delete;
    ~UdpServerSocket();

    /// The port bound (the one chosen, for port 0).
    std::uint16_t localPort() const { return m_port; }
    /// The SOCKET, for the window procedure to compare with wParam.
    std::uintptr_t handle() const { return m_socket; }

    /// Posts message to window whenever a datagram waits (WSAAsyncSelect with FD_READ): wParam
    /// is the socket, WSAGETSELECTERROR(lParam) a pending error. The socket is non-blocking
    /// from then on.
    Result<Done> notify(HWND window, unsigned message);

    /// Waits up to milliseconds for a datagram; true when one waits.
    Result<bool> waitReadable(int milliseconds);

    /// Reads the next datagram (WSARecvMsg, so that its arrival interface is known); nullopt
    /// when none waits on a non-blocking socket. A datagram that comes without its arrival
    /// interface is a failure: it could not be answered.
    Result<std::optional<Datagram>> receive(std::size_t maxLength = 1500);

    /// Broadcasts bytes to 255.255.255.255:port from this socket's port, out of interface
    /// ifindex only, whatever the routing table says (IP_UNICAST_IF for the send, then off
    /// again, so that receiving is not narrowed to that interface).
    Result<Done> broadcast(std::span<const std::uint8_t> bytes, unsigned long ifindex,
                           std::uint16_t port = 68);

private:
    UdpServerSocket() = default;
    void close();

    std::uintptr_t m_socket = ~std::uintptr_t(0);
    std::uint16_t m_port = 0;
    void* m_recvMsg = nullptr; // LPFN_WSARECVMSG
};

/// One IPv4 address of an interface.
struct InterfaceAddress {
    bootp::Ipv4 ip{};
    int prefix = 32;
};

/// The IPv4 addresses of interface ifindex, from GetAdaptersAddresses; ERROR_NOT_FOUND when
/// there is no such interface (an interface that is gone is not one without addresses).
Result<std::vector<InterfaceAddress>> interfaceAddresses(unsigned long ifindex);

/// This PC's IPv4 addresses with their interfaces (GetAdaptersAddresses) and the gateway of
/// every IPv4 route (GetIpForwardTable2), for bootp's checks against the host.
Result<bootp::HostFacts> hostFacts();

/// Makes the entry for ip on interface ifindex permanent with mac, never over an entry that
/// holds another MAC; the caller has checked the entry against the host (the port keeper
/// does). Answers as the helper's writer does, and also what only Windows answers: a call it
/// lacks (ENOSYS) or a write that needs an administrator (EPERM), with the call as reason.
/// CreateIpNetEntry2 is looked up at run time: without it nothing changes.
helper::Answer addPermanentNeighbour(unsigned long ifindex, const bootp::Ipv4& ip,
                                     const bootp::Mac& mac);

/// Whether torvane.exe runs elevated, as an administrator: only then may it add an address.
bool runsElevated();

/// The temporary address of a card's subnet as a /32 on the card's interface (after Windows'
/// own duplicate address detection: InUse when another device answers for it) and the host
/// route to the card, both in the active store; answers as addPermanentNeighbour does for
/// what only Windows answers. The calls are looked up at run time.
helper::Answer addTemporaryAddress(const helper::TemporaryRecord& record);
/// Removes them again; what is already gone is no error.
void removeTemporaryAddress(unsigned long ifindex, const bootp::Ipv4& address,
                            const bootp::Ipv4& card);

/// The process holding a local UDP port.
struct PortHolder {
    bool found = false;          ///< some socket holds the port (IPv4 or IPv6)
    unsigned long pid = 0;       ///< its owner
    std::string program;         ///< the image's file name (UTF-8); empty when it cannot be had
    unsigned long nameError = 0; ///< why program is empty: OpenProcess's error, or 0
};

/// Who holds UDP port (GetExtendedUdpTable, IPv4 then IPv6, owners with their pid).
Result<PortHolder> udpPortHolder(std::uint16_t port);

} // namespace winnet
