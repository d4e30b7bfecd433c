#include "LinuxNeighbourTable.h"

#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void addAttribute(nlmsghdr& header, std::size_t capacity, unsigned short type, const void* data,
                  std::size_t size)
{
    const std::size_t length = RTA_LENGTH(size);
    if (NLMSG_ALIGN(header.nlmsg_len) + RTA_ALIGN(length) > capacity) {
        return;
    }
    auto* attribute =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&header) + NLMSG_ALIGN(header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(length);
    std::memcpy(RTA_DATA(attribute), data, size);
    header.nlmsg_len =
        static_cast<std::uint32_t>(NLMSG_ALIGN(header.nlmsg_len) + RTA_ALIGN(length));
}

std::string failure(int err)
{
    std::string text = std::strerror(err);
    if (err == EPERM || err == EACCES) {
        text += " (needs root or the capability cap_net_admin)";
    }
    return text;
}

} // namespace

std::string LinuxNeighbourTable::addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                                              const std::array<std::uint8_t, 6>& mac)
{
    if (ifindex <= 0) {
        return "no interface known for the card";
    }
    struct {
        nlmsghdr header;
        ndmsg neighbour;
        char attributes[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_NEWNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE;
    request.header.nlmsg_seq = 1;
    request.neighbour.ndm_family = AF_INET;
    request.neighbour.ndm_ifindex = ifindex;
    request.neighbour.ndm_state = NUD_PERMANENT;
    addAttribute(request.header, sizeof request, NDA_DST, ip.data(), ip.size());
    addAttribute(request.header, sizeof request, NDA_LLADDR, mac.data(), mac.size());

    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return failure(errno);
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        const int err = errno;
        ::close(fd);
        return failure(err);
    }
    // The kernel answers with an error message whose code is 0 on success.
    alignas(nlmsghdr) char answer[512];
    const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
    const int recvErr = errno;
    ::close(fd);
    if (n < 0) {
        return failure(recvErr);
    }
    const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
    if (NLMSG_OK(header, static_cast<unsigned>(n)) && header->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        return error->error == 0 ? std::string() : failure(-error->error);
    }
    return "unexpected answer from the kernel";
}
