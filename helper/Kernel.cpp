#include "Kernel.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper {

namespace {

// The system-call numbers below are those of the architecture the helper is built for.
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
#error "torvane-helper has a system-call filter for x86_64 and aarch64 only"
#endif

struct Request {
    nlmsghdr header;
    union {
        ndmsg neighbour;
        rtmsg route;
        ifaddrmsg address;
    };
    char attributes[64];
};

void addAttribute(Request& r, unsigned short type, const void* data, std::size_t size)
{
    auto* a =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&r) + NLMSG_ALIGN(r.header.nlmsg_len));
    a->rta_type = type;
    a->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(a), data, size);
    r.header.nlmsg_len =
        static_cast<std::uint32_t>(NLMSG_ALIGN(r.header.nlmsg_len) + RTA_ALIGN(a->rta_len));
}

/// Sends one request and hands every answer message to each; returns 0 or an errno.
int talk(Request& r, const std::function<void(const nlmsghdr&)>& each)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return errno;
    }
    r.header.nlmsg_seq = 1;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &r, r.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    alignas(nlmsghdr) static char buffer[32768];
    int result = 0;
    for (bool more = true; more;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            result = errno;
            break;
        }
        int left = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                more = false;
            } else if (h->nlmsg_type == NLMSG_ERROR) {
                result = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                more = false;
            } else {
                each(*h);
            }
        }
    }
    ::close(fd);
    return result;
}

/// Calls each(type, data, size) for the attributes of a message whose fixed part is `fixed`.
void attributes(const nlmsghdr& h, std::size_t fixed,
                const std::function<void(unsigned short, const void*, std::size_t)>& each)
{
    int left = static_cast<int>(h.nlmsg_len) - static_cast<int>(NLMSG_LENGTH(fixed));
    const auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(NLMSG_DATA(&h)) +
                                                    NLMSG_ALIGN(fixed));
    for (; left > 0 && RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        each(a->rta_type, RTA_DATA(a), RTA_PAYLOAD(a));
    }
}

Request dump(unsigned short type)
{
    Request r{};
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    r.route.rtm_family = AF_INET;
    return r;
}

void gatewaysOf(const void* data, std::size_t size, std::vector<Ipv4>& out, bool multipath)
{
    if (!multipath) {
        if (size == 4) {
            Ipv4 ip;
            std::memcpy(ip.data(), data, 4);
            out.push_back(ip);
        }
        return;
    }
    // RTA_MULTIPATH: a list of next hops, each with attributes of its own.
    auto* hop = static_cast<const rtnexthop*>(data);
    int left = static_cast<int>(size);
    while (left >= static_cast<int>(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop) &&
           hop->rtnh_len <= left) {
        int attrLeft = hop->rtnh_len - static_cast<int>(RTNH_LENGTH(0));
        for (auto* a = RTNH_DATA(hop); attrLeft > 0 && RTA_OK(a, attrLeft);
             a = RTA_NEXT(a, attrLeft)) {
            if (a->rta_type == RTA_GATEWAY) {
                gatewaysOf(RTA_DATA(a), RTA_PAYLOAD(a), out, false);
            }
        }
        left -= RTNH_ALIGN(hop->rtnh_len);
        hop = RTNH_NEXT(hop);
    }
}

} // namespace

NetFacts readNetFacts()
{
    NetFacts facts;
    Request addresses = dump(RTM_GETADDR);
    talk(addresses, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWADDR) {
            return;
        }
        const auto* a = static_cast<const ifaddrmsg*>(NLMSG_DATA(&h));
        attributes(h, sizeof(ifaddrmsg),
                   [&](unsigned short type, const void* data, std::size_t size) {
                       if ((type == IFA_LOCAL || type == IFA_ADDRESS) && size == 4) {
                           NetFacts::Address local;
                           std::memcpy(local.ip.data(), data, 4);
                           local.prefix = a->ifa_prefixlen;
                           facts.addresses.push_back(local);
                       }
                   });
    });
    Request routes = dump(RTM_GETROUTE);
    talk(routes, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWROUTE) {
            return;
        }
        attributes(h, sizeof(rtmsg), [&](unsigned short type, const void* data, std::size_t size) {
            if (type == RTA_GATEWAY || type == RTA_MULTIPATH) {
                gatewaysOf(data, size, facts.gateways, type == RTA_MULTIPATH);
            }
        });
    });
    return facts;
}

std::optional<Mac> neighbourMac(int ifindex, const Ipv4& ip)
{
    std::optional<Mac> found;
    Request r = dump(RTM_GETNEIGH);
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    r.neighbour = ndmsg{};
    r.neighbour.ndm_family = AF_INET;
    talk(r, [&](const nlmsghdr& h) {
        const auto* n = static_cast<const ndmsg*>(NLMSG_DATA(&h));
        if (h.nlmsg_type != RTM_NEWNEIGH || n->ndm_ifindex != ifindex ||
            (n->ndm_state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP)) != 0) {
            return;
        }
        bool match = false;
        std::optional<Mac> mac;
        attributes(h, sizeof(ndmsg), [&](unsigned short type, const void* data, std::size_t size) {
            if (type == NDA_DST && size == 4) {
                match = std::memcmp(data, ip.data(), 4) == 0;
            } else if (type == NDA_LLADDR && size == 6) {
                mac.emplace();
                std::memcpy(mac->data(), data, 6);
            }
        });
        if (match && mac) {
            found = mac;
        }
    });
    return found;
}

int writeNeighbour(int ifindex, const Ipv4& ip, const Mac& mac)
{
    Request r{};
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    r.header.nlmsg_type = RTM_NEWNEIGH;
    // REPLACE turns a learnt entry for the same MAC into a permanent one; an entry for another
    // MAC was refused before this point.
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE;
    r.neighbour.ndm_family = AF_INET;
    r.neighbour.ndm_ifindex = ifindex;
    r.neighbour.ndm_state = NUD_PERMANENT;
    addAttribute(r, NDA_DST, ip.data(), ip.size());
    addAttribute(r, NDA_LLADDR, mac.data(), mac.size());
    return talk(r, [](const nlmsghdr&) {});
}

bool setCapabilities(std::uint64_t permitted, std::uint64_t effective)
{
    // Capabilities can only be given up: what the process lacks stays out of both sets.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const std::uint64_t held = data[0].permitted | std::uint64_t(data[1].permitted) << 32;
    permitted &= held;
    effective &= permitted;
    data[0].permitted = static_cast<std::uint32_t>(permitted);
    data[1].permitted = static_cast<std::uint32_t>(permitted >> 32);
    data[0].effective = static_cast<std::uint32_t>(effective);
    data[1].effective = static_cast<std::uint32_t>(effective >> 32);
    data[0].inheritable = data[1].inheritable = 0;
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool restrictSystemCalls()
{
    static constexpr int allowed[] = {
        SYS_read,       SYS_write,        SYS_close,   SYS_ppoll,      SYS_recvfrom,
        SYS_recvmsg,    SYS_sendto,       SYS_sendmsg, SYS_bind,       SYS_getsockname,
        SYS_setsockopt, SYS_getsockopt,   SYS_capget,  SYS_capset,     SYS_clock_gettime,
        SYS_brk,        SYS_mmap,         SYS_munmap,  SYS_mremap,     SYS_madvise,
        SYS_futex,      SYS_rt_sigreturn, SYS_exit,    SYS_exit_group, SYS_getpid,
        SYS_gettid,
#ifdef SYS_poll
        SYS_poll, // glibc's poll() on architectures that still have the call
#endif
    };
    constexpr std::size_t n = std::size(allowed);
    // Architecture check, number load, the allow list, then socket() for rtnetlink only and
    // ioctl() for reading an interface's name and flags only; anything else kills.
    sock_filter program[4 + n + 9];
    std::size_t i = 0;
    program[i++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    program[i++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    program[i++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    for (std::size_t k = 0; k < n; ++k) {
        // To the ALLOW statement, the last one.
        program[i] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(allowed[k]),
                              static_cast<std::uint8_t>(n - k + 7), 0);
        ++i;
    }
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 2);
    program[i++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0]));
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 5, 4);
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ioctl, 0, 3);
    program[i++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1]));
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIOCGIFNAME, 2, 0);
    program[i++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIOCGIFFLAGS, 1, 0);
    program[i++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    program[i++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog fprog{static_cast<unsigned short>(i), program};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) == 0;
}

} // namespace helper
