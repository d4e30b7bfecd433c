#include "SimLink.h"

#include "Rtnetlink.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_link.h>
#include <linux/if_packet.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace cardsim {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    const int error = errno;
    throw SysError(what, error);
}

ifreq interfaceRequest(const std::string& name)
{
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return request;
}

Fd controlSocket()
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        fail("socket");
    }
    return fd;
}

int addressRequest(std::uint16_t type, std::uint16_t flags, int ifindex, const Octets& address,
                   int prefix)
{
    netlink::Request request(type, flags);
    auto& ifa = request.header<ifaddrmsg>();
    ifa.ifa_family = AF_INET;
    ifa.ifa_prefixlen = static_cast<std::uint8_t>(prefix);
    ifa.ifa_scope = RT_SCOPE_UNIVERSE;
    ifa.ifa_index = static_cast<unsigned>(ifindex);

    std::uint32_t host = 0;
    for (std::uint8_t b : address) {
        host = (host << 8) | b;
    }
    const std::uint32_t hostMask = ~bootp::prefixMask(prefix);
    request.put(IFA_LOCAL, htonl(host));
    request.put(IFA_ADDRESS, htonl(host));
    if (prefix < 31) {
        request.put(IFA_BROADCAST, htonl(host | hostMask));
    }
    return request.execute();
}

std::string confPath(const std::string& interface, const char* name)
{
    return "/proc/sys/net/ipv4/conf/" + interface + "/" + name;
}

} // namespace

SysError::SysError(const std::string& what, int error)
    : std::runtime_error(what + ": " + std::strerror(error)), error_(error)
{
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int Fd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int interfaceIndex(const std::string& name)
{
    const unsigned index = ::if_nametoindex(name.c_str());
    if (index == 0) {
        fail("interface " + name);
    }
    return static_cast<int>(index);
}

Mac interfaceMac(const std::string& name)
{
    const Fd fd = controlSocket();
    ifreq request = interfaceRequest(name);
    if (::ioctl(fd.get(), SIOCGIFHWADDR, &request) < 0) {
        fail("hardware address of " + name);
    }
    if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        throw SysError(name + " is not an Ethernet interface", EINVAL);
    }
    Mac mac{};
    std::memcpy(mac.data(), request.ifr_hwaddr.sa_data, mac.size());
    return mac;
}

Fd openCardSocket(const std::string& interface)
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        fail("socket");
    }
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
        fail("SO_REUSEADDR");
    }
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        fail("SO_BROADCAST");
    }
    // Tied to the interface, it hears the replies that come in there and no other's.
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
                     static_cast<socklen_t>(interface.size() + 1)) < 0) {
        fail("SO_BINDTODEVICE " + interface);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(bootp::kClientPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        fail("bind 0.0.0.0:68");
    }
    return fd;
}

Fd openFrameSocket()
{
    // Protocol 0: nothing is ever queued on it for reading.
    Fd fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        fail("packet socket (CAP_NET_RAW needed)");
    }
    return fd;
}

void broadcastToServers(int frames, int ifindex, std::span<const std::uint8_t> message,
                        const std::string& interface)
{
    const Bytes packet = broadcastPacket(message);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_IP);
    to.sll_ifindex = ifindex;
    to.sll_halen = ETH_ALEN;
    std::memset(to.sll_addr, 0xFF, ETH_ALEN);
    if (::sendto(frames, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) < 0) {
        fail("send to 255.255.255.255:67 on " + interface);
    }
}

bool isLinkUp(const std::string& interface)
{
    const Fd fd = controlSocket();
    ifreq request = interfaceRequest(interface);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) < 0) {
        fail("flags of " + interface);
    }
    return (request.ifr_flags & IFF_UP) != 0;
}

void setLinkUp(const std::string& interface)
{
    const Fd fd = controlSocket();
    ifreq request = interfaceRequest(interface);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) < 0) {
        fail("flags of " + interface);
    }
    if ((request.ifr_flags & IFF_UP) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (::ioctl(fd.get(), SIOCSIFFLAGS, &request) < 0) {
            fail("set " + interface + " up");
        }
    }
}

bool addAddress(int ifindex, const Octets& address, int prefix)
{
    const int error =
        addressRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, ifindex, address, prefix);
    if (error == EEXIST) {
        return false;
    }
    if (error != 0) {
        throw SysError("add address " + dotted(address) + "/" + std::to_string(prefix), error);
    }
    return true;
}

void removeAddress(int ifindex, const Octets& address, int prefix)
{
    const int error = addressRequest(RTM_DELADDR, 0, ifindex, address, prefix);
    if (error != 0) {
        throw SysError("remove address " + dotted(address) + "/" + std::to_string(prefix), error);
    }
}

int addMacvlan(const std::string& name, int parent, const Mac& mac)
{
    const auto create = [&](bool ipv6) {
        netlink::Request request(RTM_NEWLINK, NLM_F_CREATE | NLM_F_EXCL);
        auto& ifi = request.header<ifinfomsg>();
        ifi.ifi_family = AF_UNSPEC;
        ifi.ifi_flags = IFF_UP;
        ifi.ifi_change = IFF_UP;
        request.putString(IFLA_IFNAME, name);
        request.put(IFLA_LINK, static_cast<std::uint32_t>(parent));
        request.put(IFLA_ADDRESS, mac.data(), mac.size());
        nlattr* info = request.nest(IFLA_LINKINFO);
        request.put(IFLA_INFO_KIND, "macvlan", 7);
        nlattr* data = request.nest(IFLA_INFO_DATA);
        // Private: the cards do not hear one another, only the network beyond IF.
        request.put(IFLA_MACVLAN_MODE, static_cast<std::uint32_t>(MACVLAN_MODE_PRIVATE));
        request.endNest(data);
        request.endNest(info);
        if (ipv6) {
            // No IPv6 address of its own: the kernel would otherwise run duplicate address
            // detection and multicast joins for every card, in a worker that takes a core and
            // the rtnl lock for milliseconds just when the cards first ask.
            nlattr* families = request.nest(IFLA_AF_SPEC);
            nlattr* inet6 = request.nest(AF_INET6);
            const std::uint8_t none = IN6_ADDR_GEN_MODE_NONE;
            request.put(IFLA_INET6_ADDR_GEN_MODE, &none, sizeof none);
            request.endNest(inet6);
            request.endNest(families);
        }
        return request.execute();
    };
    int error = create(true);
    if (error == EAFNOSUPPORT) {
        error = create(false); // a kernel without IPv6 has nothing to switch off
    }
    if (error != 0) {
        throw SysError("create macvlan " + name + " with MAC " + formatMac(mac) + " on interface " +
                           std::to_string(parent),
                       error);
    }
    return interfaceIndex(name);
}

void removeLink(int ifindex)
{
    netlink::Request request(RTM_DELLINK, 0);
    auto& ifi = request.header<ifinfomsg>();
    ifi.ifi_family = AF_UNSPEC;
    ifi.ifi_index = ifindex;
    const int error = request.execute();
    if (error != 0) {
        throw SysError("remove interface " + std::to_string(ifindex), error);
    }
}

int arpIgnore(const std::string& interface)
{
    std::ifstream in(confPath(interface, "arp_ignore"));
    int value = 0;
    if (!(in >> value)) {
        throw SysError("read arp_ignore of " + interface, errno != 0 ? errno : EIO);
    }
    return value;
}

void setArpIgnore(const std::string& interface, int value)
{
    std::ofstream out(confPath(interface, "arp_ignore"));
    out << value << '\n';
    out.flush();
    if (!out) {
        throw SysError("set arp_ignore of " + interface, errno != 0 ? errno : EIO);
    }
}

} // namespace cardsim
