#include "Link.h"

#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
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
#include <vector>

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

// One rtnetlink request, answered by an acknowledgement (an NLMSG_ERROR holding 0 or -errno).
class NetlinkRequest {
public:
    NetlinkRequest(std::uint16_t type, int flags, const void* body, std::size_t size)
    {
        nlmsghdr header{};
        header.nlmsg_type = type;
        header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
        header.nlmsg_seq = 1;
        bytes_.resize(NLMSG_HDRLEN);
        std::memcpy(bytes_.data(), &header, sizeof header);
        append(body, size);
    }

    void attribute(std::uint16_t type, const void* data, std::size_t size)
    {
        const rtattr header{static_cast<unsigned short>(RTA_LENGTH(size)), type};
        append(&header, sizeof header);
        append(data, size);
    }

    template <typename T> void attribute(std::uint16_t type, const T& value)
    {
        attribute(type, &value, sizeof value);
    }

    /// Opens a nested attribute; close() it with what this returns.
    std::size_t open(std::uint16_t type)
    {
        const std::size_t at = NLMSG_ALIGN(bytes_.size());
        attribute(type, nullptr, 0);
        return at;
    }

    void close(std::size_t at)
    {
        const auto length = static_cast<unsigned short>(bytes_.size() - at);
        std::memcpy(bytes_.data() + at, &length, sizeof length);
    }

    /// Sends the request; 0 or the errno the kernel answered.
    int exchange()
    {
        const auto length = static_cast<std::uint32_t>(bytes_.size());
        std::memcpy(bytes_.data(), &length, sizeof length); // nlmsg_len leads the header
        Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
        if (fd.get() < 0) {
            fail("netlink socket");
        }
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd.get(), bytes_.data(), bytes_.size(), 0,
                     reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
            fail("netlink send");
        }
        alignas(nlmsghdr) char answer[8192];
        const ssize_t n = ::recv(fd.get(), answer, sizeof answer, 0);
        if (n < 0) {
            fail("netlink receive");
        }
        const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
        if (!NLMSG_OK(header, static_cast<unsigned>(n)) || header->nlmsg_type != NLMSG_ERROR) {
            throw SysError("netlink: unexpected answer", EPROTO);
        }
        return -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
    }

private:
    void append(const void* data, std::size_t size)
    {
        const std::size_t at = NLMSG_ALIGN(bytes_.size());
        bytes_.resize(at + size);
        if (size > 0) {
            std::memcpy(bytes_.data() + at, data, size);
        }
    }

    std::vector<char> bytes_;
};

int addressRequest(std::uint16_t type, int flags, int ifindex, const Octets& address, int prefix)
{
    ifaddrmsg ifa{};
    ifa.ifa_family = AF_INET;
    ifa.ifa_prefixlen = static_cast<std::uint8_t>(prefix);
    ifa.ifa_scope = RT_SCOPE_UNIVERSE;
    ifa.ifa_index = static_cast<unsigned>(ifindex);
    NetlinkRequest request(type, flags, &ifa, sizeof ifa);

    std::uint32_t host = 0;
    for (std::uint8_t b : address) {
        host = (host << 8) | b;
    }
    const std::uint32_t hostMask = prefix == 0 ? 0xFFFFFFFFu : (prefix == 32 ? 0 : ~0u >> prefix);
    request.attribute(IFA_LOCAL, htonl(host));
    request.attribute(IFA_ADDRESS, htonl(host));
    if (prefix < 31) {
        request.attribute(IFA_BROADCAST, htonl(host | hostMask));
    }
    return request.exchange();
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
    // Tied to the interface, the limited broadcast leaves there without any route or address.
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

void broadcastToServers(int fd, std::span<const std::uint8_t> message, const std::string& interface)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(bootp::kServerPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to),
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
    ifinfomsg ifi{};
    ifi.ifi_family = AF_UNSPEC;
    ifi.ifi_flags = IFF_UP;
    ifi.ifi_change = IFF_UP;
    NetlinkRequest request(RTM_NEWLINK, NLM_F_CREATE | NLM_F_EXCL, &ifi, sizeof ifi);
    request.attribute(IFLA_IFNAME, name.c_str(), name.size() + 1);
    request.attribute(IFLA_LINK, static_cast<std::uint32_t>(parent));
    request.attribute(IFLA_ADDRESS, mac.data(), mac.size());
    const std::size_t info = request.open(IFLA_LINKINFO);
    request.attribute(IFLA_INFO_KIND, "macvlan", 7);
    const std::size_t data = request.open(IFLA_INFO_DATA);
    // Private: the cards do not hear one another, only the network beyond IF.
    request.attribute(IFLA_MACVLAN_MODE, static_cast<std::uint32_t>(MACVLAN_MODE_PRIVATE));
    request.close(data);
    request.close(info);
    const int error = request.exchange();
    if (error != 0) {
        throw SysError("create macvlan " + name + " with MAC " + formatMac(mac) + " on interface " +
                           std::to_string(parent),
                       error);
    }
    return interfaceIndex(name);
}

void removeLink(int ifindex)
{
    ifinfomsg ifi{};
    ifi.ifi_family = AF_UNSPEC;
    ifi.ifi_index = ifindex;
    NetlinkRequest request(RTM_DELLINK, 0, &ifi, sizeof ifi);
    const int error = request.exchange();
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
