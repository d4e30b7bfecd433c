// Drives torvane-helper through its link, one step per argument, for helper_netns.sh:
//   start                 start the helper found beside this program; prints "start ERROR ERRNO"
//   listen | pause        prints "answer CODE"
//   wait-request [S]      waits up to S (10) s for a passed-on request; prints "request id=N if=N
//                         size=N mac=MAC" (or "no request")
//   reply K=V...          replies to the last request: ip=, mask=, gw=, si= (dotted), flip=OFFSET
//                         (changes that byte), id=N (another id); prints "answer CODE TEXT"
//   neigh K=V...          ip= (default: the reply's), mac=MAC, id=N; prints "answer CODE TEXT"
//   temp ADDRESS [LIFE]   asks for the temporary address ADDRESS (lifetime LIFE s, 180) to
//                         reach the card of the last reply; prints "answer CODE TEXT"
//   raw HEX               sends these bytes as one message; prints the answer
//   status                prints the listener's CapPrm, CapEff, NoNewPrivs and Seccomp lines
//   status-writer         the same for the neighbour-table writer
//   nofile N              sets the listener's and the writer's RLIMIT_NOFILE to N (as the
//                         same user may with prlimit); prints "nofile ok" or the error
//   pidfile PATH          writes the listener's and the writer's pids to PATH
//   send DEV PORT DST MAC sends one card request with that MAC from PORT on DEV (or "-" for
//                         none) to DST:67
//   frame DEV SRC DST ETHER MAC [TTL]
//                         sends one card request with that MAC from SRC:68 to DST:67 as an
//                         IPv4 packet in an Ethernet frame to ETHER (aa:bb:...) on DEV, written
//                         whole, so that any source can be claimed
//   tun NAME MAC          creates tun device NAME, sets it up and writes one card request from
//                         0.0.0.0:68 to 255.255.255.255:67 into it, as a process that owns a tun
//                         device may
//   sleep S               waits S seconds
// Plain C++ like the helper's own link, so the test sees exactly what a front-end sees.
#include "BootMessage.h"
#include "Card.h"
#include "CardRequest.h"
#include "HelperLink.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace helper;

namespace {

std::string option(const std::string& arg, const char* key)
{
    const std::string k = std::string(key) + "=";
    return arg.rfind(k, 0) == 0 ? arg.substr(k.size()) : std::string();
}

void setAddress(Bytes& b, std::size_t offset, const std::string& dotted)
{
    in_addr a{};
    if (inet_pton(AF_INET, dotted.c_str(), &a) == 1) {
        std::memcpy(b.data() + offset, &a, 4);
    }
}

/// One number for the shell: the errno, or the refusal code negated.
void print(const Answer& a)
{
    const int code = a.refused() ? -static_cast<int>(a.refusal) : a.error;
    std::printf("answer %d %s\n", code, a.reason.c_str());
}

/// The writer's pid: the listener's one child.
std::string writerPid(pid_t listener)
{
    const std::string pid = std::to_string(listener);
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    std::string writer;
    children >> writer;
    return writer;
}

void printStatus(const std::string& pid)
{
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapPrm", 0) == 0 || line.rfind("CapEff", 0) == 0 ||
            line.rfind("NoNewPrivs", 0) == 0 || line.rfind("Seccomp:", 0) == 0) {
            std::printf("%s\n", line.c_str());
        }
    }
}

Mac macArgument(const char* text)
{
    unsigned m[6] = {};
    std::sscanf(text, "%x%*[-:]%x%*[-:]%x%*[-:]%x%*[-:]%x%*[-:]%x", &m[0], &m[1], &m[2], &m[3],
                &m[4], &m[5]);
    Mac mac;
    for (int k = 0; k < 6; ++k) {
        mac[k] = static_cast<std::uint8_t>(m[k]);
    }
    return mac;
}

std::array<std::uint8_t, 4> addressArgument(const char* dotted)
{
    std::array<std::uint8_t, 4> a{};
    inet_pton(AF_INET, dotted, a.data());
    return a;
}

/// A card request from source:68 to destination:67 as an IPv4 packet with time to live ttl.
Bytes cardPacket(const Mac& mac, const char* source, const char* destination, int ttl = 64)
{
    Bytes p = testing_support::ipv4Udp(testing_support::cardRequest(300, mac), 68, 67,
                                       addressArgument(source), 0, addressArgument(destination));
    p[8] = static_cast<std::uint8_t>(ttl);
    p[10] = p[11] = 0;
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < 20; k += 2) {
        sum += std::uint32_t(p[k]) << 8 | p[k + 1];
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    p[10] = static_cast<std::uint8_t>(~sum >> 8);
    p[11] = static_cast<std::uint8_t>(~sum);
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    HelperLink link;
    std::optional<Request> last;
    Ipv4 replied{};
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "start") {
            const StartResult r = link.start(locateHelper(executableDir()));
            std::printf("start %d %d %s\n", static_cast<int>(r.error), r.errnoValue,
                        r.detail.c_str());
        } else if (step == "listen") {
            print(link.listen());
        } else if (step == "pause") {
            print(link.pause());
        } else if (step == "wait-request") {
            int tenths = 100;
            if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
                tenths = std::stoi(argv[++i]) * 10;
            }
            last.reset();
            for (int t = 0; t < tenths && !last && link.running(); ++t) {
                pollfd p{link.fd(), POLLIN, 0};
                ::poll(&p, 1, 100);
                last = link.readRequest();
            }
            if (!last) {
                std::printf("no request%s\n", link.died() ? " (helper died)" : "");
                continue;
            }
            const Mac mac = bootp::requestMac(last->datagram);
            std::printf("request id=%u if=%d size=%zu mac=%02X-%02X-%02X-%02X-%02X-%02X\n",
                        last->id, last->ifindex, last->datagram.size(), mac[0], mac[1], mac[2],
                        mac[3], mac[4], mac[5]);
        } else if (step == "reply" || step == "neigh") {
            if (!last) {
                for (; i + 1 < argc && std::string(argv[i + 1]).find('=') != std::string::npos;
                     ++i) {
                }
                std::printf("answer none (no request)\n");
                continue;
            }
            std::uint32_t id = last->id;
            Bytes reply = last->datagram;
            reply[bootp::kOp] = bootp::kBootReply;
            const std::uint8_t options[13] = {1, 4, 255, 255, 255, 0, 3, 4, 0, 0, 0, 0, 255};
            std::memcpy(reply.data() + bootp::kReplyOptions, options, sizeof options);
            Mac mac;
            std::memcpy(mac.data(), last->datagram.data() + bootp::kChaddr, 6);
            Ipv4 ip = replied;
            for (; i + 1 < argc && std::string(argv[i + 1]).find('=') != std::string::npos; ++i) {
                const std::string arg = argv[i + 1];
                if (!option(arg, "ip").empty()) {
                    setAddress(reply, bootp::kYiaddr, option(arg, "ip"));
                    std::memcpy(ip.data(), reply.data() + bootp::kYiaddr, 4);
                } else if (!option(arg, "mask").empty()) {
                    setAddress(reply, bootp::kReplyOptions + 2, option(arg, "mask"));
                } else if (!option(arg, "gw").empty()) {
                    setAddress(reply, bootp::kReplyOptions + 8, option(arg, "gw"));
                } else if (!option(arg, "si").empty()) {
                    setAddress(reply, bootp::kSiaddr, option(arg, "si"));
                } else if (!option(arg, "flip").empty()) {
                    reply[std::stoul(option(arg, "flip"))] ^= 0xFF;
                } else if (!option(arg, "id").empty()) {
                    id = static_cast<std::uint32_t>(std::stoul(option(arg, "id")));
                } else if (!option(arg, "mac").empty()) {
                    unsigned m[6];
                    std::sscanf(option(arg, "mac").c_str(), "%x-%x-%x-%x-%x-%x", &m[0], &m[1],
                                &m[2], &m[3], &m[4], &m[5]);
                    for (int k = 0; k < 6; ++k) {
                        mac[k] = static_cast<std::uint8_t>(m[k]);
                    }
                }
            }
            if (step == "reply") {
                const Answer a = link.reply(id, reply);
                if (a.ok()) {
                    replied = ip;
                }
                print(a);
            } else {
                print(link.neighbour(id, ip, mac));
            }
        } else if (step == "temp" && i + 1 < argc) {
            Ipv4 address{};
            inet_pton(AF_INET, argv[++i], address.data());
            std::uint32_t lifetime = kTemporaryLifetime;
            if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
                lifetime = static_cast<std::uint32_t>(std::stoul(argv[++i]));
            }
            print(link.temporary(last ? last->id : 0, address, lifetime));
        } else if (step == "raw" && i + 1 < argc) {
            const std::string hex = argv[++i];
            Bytes bytes;
            for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
                bytes.push_back(
                    static_cast<std::uint8_t>(std::stoul(hex.substr(k, 2), nullptr, 16)));
            }
            ::send(link.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            pollfd p{link.fd(), POLLIN, 0};
            std::uint8_t in[kMaxMessage];
            const ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::recv(link.fd(), in, sizeof in, 0) : -1;
            const auto m =
                n > 0 ? decodeFromHelper(std::span(in, static_cast<std::size_t>(n))) : std::nullopt;
            if (const Answer* a = m ? std::get_if<Answer>(&*m) : nullptr) {
                print(*a);
            } else {
                std::printf("answer none\n");
            }
        } else if (step == "status") {
            printStatus(std::to_string(link.pid()));
        } else if (step == "status-writer") {
            const std::string writer = writerPid(link.pid());
            if (writer.empty()) {
                std::printf("no writer\n");
            } else {
                printStatus(writer);
            }
        } else if (step == "send" && i + 4 < argc) {
            const std::string dev = argv[++i];
            const int port = std::stoi(argv[++i]);
            const std::string dst = argv[++i];
            unsigned m[6];
            std::sscanf(argv[++i], "%x-%x-%x-%x-%x-%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
            const auto request = testing_support::cardRequest(
                300, {std::uint8_t(m[0]), std::uint8_t(m[1]), std::uint8_t(m[2]),
                      std::uint8_t(m[3]), std::uint8_t(m[4]), std::uint8_t(m[5])});
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            const int on = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
            if (dev != "-") {
                ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev.c_str(), dev.size());
            }
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_port = htons(static_cast<std::uint16_t>(port));
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(67);
            inet_pton(AF_INET, dst.c_str(), &to.sin_addr);
            const bool sent = ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                              ::sendto(fd, request.data(), request.size(), 0,
                                       reinterpret_cast<sockaddr*>(&to), sizeof to) > 0;
            ::close(fd);
            std::printf("sent %s\n", sent ? "ok" : std::strerror(errno));
        } else if (step == "frame" && i + 5 < argc) {
            const std::string dev = argv[++i];
            const char* source = argv[++i];
            const char* destination = argv[++i];
            const Mac ether = macArgument(argv[++i]);
            const Mac mac = macArgument(argv[++i]);
            int ttl = 64;
            if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
                ttl = std::stoi(argv[++i]);
            }
            const Bytes packet = cardPacket(mac, source, destination, ttl);
            const int fd = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_protocol = htons(ETH_P_IP);
            to.sll_ifindex = static_cast<int>(::if_nametoindex(dev.c_str()));
            to.sll_halen = 6;
            std::memcpy(to.sll_addr, ether.data(), 6);
            const bool sent = ::sendto(fd, packet.data(), packet.size(), 0,
                                       reinterpret_cast<sockaddr*>(&to), sizeof to) > 0;
            ::close(fd);
            std::printf("sent %s\n", sent ? "ok" : std::strerror(errno));
        } else if (step == "tun" && i + 2 < argc) {
            const std::string name = argv[++i];
            const Bytes packet = cardPacket(macArgument(argv[++i]), "0.0.0.0", "255.255.255.255");
            const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
            ifreq req{};
            req.ifr_flags = IFF_TUN | IFF_NO_PI;
            std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
            const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
            bool sent = fd >= 0 && ::ioctl(fd, TUNSETIFF, &req) == 0 &&
                        ::ioctl(control, SIOCGIFFLAGS, &req) == 0;
            req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
            sent = sent && ::ioctl(control, SIOCSIFFLAGS, &req) == 0 &&
                   ::write(fd, packet.data(), packet.size()) == static_cast<ssize_t>(packet.size());
            std::printf("sent %s\n", sent ? "ok" : std::strerror(errno));
            ::close(control);
            ::close(fd);
        } else if (step == "nofile" && i + 1 < argc) {
            const rlim_t n = std::stoul(argv[++i]);
            const rlimit limit{n, n};
            const std::string writer = writerPid(link.pid());
            const bool ok = ::prlimit(link.pid(), RLIMIT_NOFILE, &limit, nullptr) == 0 &&
                            !writer.empty() &&
                            ::prlimit(std::stoi(writer), RLIMIT_NOFILE, &limit, nullptr) == 0;
            std::printf("nofile %s\n", ok ? "ok" : std::strerror(errno));
        } else if (step == "pidfile" && i + 1 < argc) {
            // Never -1 or 0: a script's "kill $(cat PATH)" would then hit every process.
            std::ofstream pids(argv[++i]);
            if (link.pid() > 0) {
                pids << link.pid() << " " << writerPid(link.pid()) << "\n";
            }
        } else if (step == "sleep" && i + 1 < argc) {
            std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(argv[++i])));
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
