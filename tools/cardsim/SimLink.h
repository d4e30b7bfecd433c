#pragma once

#include "CardSim.h"

#include <span>
#include <stdexcept>
#include <string>

// The Linux side of the simulator: the card's socket and the interface it sits on.
namespace cardsim {

/// A failed system call, with the call and errno's text in the message.
class SysError : public std::runtime_error {
public:
    SysError(const std::string& what, int error);
    int error() const { return error_; }

private:
    int error_;
};

/// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return fd_; }
    int release();

private:
    int fd_;
};

/// The interface's index; throws when there is no such interface.
int interfaceIndex(const std::string& name);

/// The interface's own Ethernet address.
Mac interfaceMac(const std::string& name);

/// A UDP socket on 0.0.0.0:68 tied to the interface, on which the replies arrive. It needs no
/// address on the interface: the kernel delivers broadcasts to it. SO_REUSEADDR lets it share
/// port 68 with a DHCP client on the same host.
Fd openCardSocket(const std::string& interface);

/// A packet socket that sends whole IPv4 packets on any interface and receives nothing
/// (needs CAP_NET_RAW).
Fd openFrameSocket();

/// Sends `message` through `frames` (openFrameSocket) on interface `ifindex` as a card does:
/// from 0.0.0.0:68 to 255.255.255.255:67 in an Ethernet broadcast frame, whatever addresses
/// this host has (a UDP socket would take one of them as its source). Throws SysError, whose
/// text names `interface`.
void broadcastToServers(int frames, int ifindex, std::span<const std::uint8_t> message,
                        const std::string& interface);

/// Whether the interface is administratively up.
bool isLinkUp(const std::string& interface);

/// Sets the interface administratively up.
void setLinkUp(const std::string& interface);

/// Puts address/prefix on the interface (RTM_NEWADDR). True when this call added it, false
/// when it was there already.
bool addAddress(int ifindex, const Octets& address, int prefix);

/// Takes it off again (RTM_DELADDR); throws on failure.
void removeAddress(int ifindex, const Octets& address, int prefix);

/// Creates a macvlan interface `name` (mode private) on the interface with index `parent`,
/// carrying `mac`, and sets it up. Returns its index.
int addMacvlan(const std::string& name, int parent, const Mac& mac);

/// Removes an interface (RTM_DELLINK); its addresses go with it.
void removeLink(int ifindex);

/// The interface's net.ipv4.conf.IF.arp_ignore (1: answer ARP only for addresses on IF).
int arpIgnore(const std::string& interface);
void setArpIgnore(const std::string& interface, int value);

} // namespace cardsim
