#include "Link.h"

#include <arpa/inet.h>
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

// One rtnetlink address request, answered by an acknowledgement (an NLMSG_ERROR with 0).
int addressRequest(int type, int flags, int ifindex, const Octets& address, int prefix)
{
    struct {
        nlmsghdr header;
        ifaddrmsg ifa;
        char attributes[3 * RTA_SPACE(4)];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = static_cast<std::uint16_t>(type);
    request.header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
    request.header.nlmsg_seq = 1;
    request.ifa.ifa_family = AF_INET;
    request.ifa.ifa_prefixlen = static_cast<std::uint8_t>(prefix);
    request.ifa.ifa_scope = RT_SCOPE_UNIVERSE;
    request.ifa.ifa_index = static_cast<unsigned>(ifindex);

    std::uint32_t host = 0;
    for (std::uint8_t b : address) {
        host = (host << 8) | b;
    }
    const std::uint32_t hostMask = prefix == 0 ? 0xFFFFFFFFu : (prefix == 32 ? 0 : ~0u >> prefix);
    const std::uint32_t local = htonl(host);
    const std::uint32_t broadcast = htonl(host | hostMask);
    auto append = [&request](std::uint16_t kind, std::uint32_t value) {
        auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                    NLMSG_ALIGN(request.header.nlmsg_len));
        attribute->rta_type = kind;
        attribute->rta_len = RTA_LENGTH(4);
        std::memcpy(RTA_DATA(attribute), &value, 4);
        request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_SPACE(4);
    };
    append(IFA_LOCAL, local);
    append(IFA_ADDRESS, local);
    if (prefix < 31) {
        append(IFA_BROADCAST, broadcast);
    }

    Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd.get() < 0) {
        fail("netlink socket");
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        fail("netlink send");
    }
    char answer[4096];
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

} // namespace cardsim
