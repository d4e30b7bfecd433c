// Both ends of the real-socket tests, run inside test namespaces by socket.sh:
//   listen-reply  (pc)   bind port 67 with the product socket (through torvane-helper), take
//                        one card request, report its size and interface, close, then send
//                        its reply to 255.255.255.255:68 from port 67
//   bind          (pc)   bind port 67 with the product socket and report the outcome
//   hold          (pc)   hold UDP port 67 with a plain socket until killed
//   card DEV      (card) from 0.0.0.0:68 on DEV, broadcast a 300-byte card request to port 67
//                        every 0.2 s until a datagram arrives on port 68; print its size
//                        and source port
//   watch DEV S   (any)  print every datagram arriving on port 68 via DEV for S seconds
#include "BootP.h"
#include "CardRequest.h"
#include "linux/LinuxServices.h"
#include "SearchFailure.h"
#include "linux/HelperPort.h"

#include <QFile>

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int clientSocket(const char* dev)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev, std::strlen(dev)) != 0) {
        std::perror("SO_BINDTODEVICE");
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(68);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("bind 68");
        return -1;
    }
    return fd;
}

int card(const char* dev)
{
    const int fd = clientSocket(dev);
    if (fd < 0) {
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(67);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const std::vector<std::uint8_t> request = testing_support::cardRequest();
    for (int i = 0; i < 50; ++i) {
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) == 1) {
            char buf[2048];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            std::printf("reply %zd bytes from port %d\n", n, ntohs(from.sin_port));
            return 0;
        }
    }
    std::printf("no reply\n");
    return 1;
}

int watch(const char* dev, int seconds)
{
    const int fd = clientSocket(dev);
    if (fd < 0) {
        return 2;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    pollfd p{fd, POLLIN, 0};
    int got = 0;
    while (::poll(&p, 1, seconds * 1000) == 1) {
        char buf[2048];
        std::printf("datagram %zd bytes\n", ::recv(fd, buf, sizeof buf, 0));
        ++got;
    }
    return got;
}

int hold()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(67);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("hold");
        return 2;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "card" && argc > 2) {
        return card(argv[2]);
    }
    if (mode == "watch" && argc > 3) {
        return watch(argv[2], std::atoi(argv[3]));
    }
    if (mode == "hold") {
        return hold();
    }
    QCoreApplication app(argc, argv);
    std::unique_ptr<DatagramSocket> services = createNetworkServices().socket;
    DatagramSocket& socket = *services;
    socket.setLocalPort(67);
    try {
        socket.bind(67);
    } catch (const SearchFailure& e) {
        std::printf("bind failed %d: %s\n", e.number(), e.description().c_str());
        return 1;
    }
    if (mode == "bind") {
        std::printf("bound\n");
        return 0;
    }
    if (mode == "status") {
        std::printf("bound\n");
        const auto field = [](const QString& pid, const char* name) {
            QFile f(QStringLiteral("/proc/%1/status").arg(pid));
            f.open(QIODevice::ReadOnly);
            for (const QByteArray& line : f.readAll().split('\n')) {
                if (line.startsWith(name)) {
                    return QString::fromLatin1(line.mid(qsizetype(std::strlen(name)) + 1))
                        .trimmed();
                }
            }
            return QString();
        };
        const QString helper = QString::number(helperPid(socket));
        std::printf("front-end CapEff: %s\n", qPrintable(field(QStringLiteral("self"), "CapEff:")));
        std::printf("helper CapPrm: %s CapEff: %s NoNewPrivs: %s Seccomp: %s\n",
                    qPrintable(field(helper, "CapPrm:")), qPrintable(field(helper, "CapEff:")),
                    qPrintable(field(helper, "NoNewPrivs:")),
                    qPrintable(field(helper, "Seccomp:")));
        // The neighbour-table writer is the listener's one child.
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(helper));
        children.open(QIODevice::ReadOnly);
        const QString writer = QString::fromLatin1(children.readAll()).trimmed();
        std::printf("writer CapPrm: %s CapEff: %s NoNewPrivs: %s Seccomp: %s\n",
                    qPrintable(field(writer, "CapPrm:")), qPrintable(field(writer, "CapEff:")),
                    qPrintable(field(writer, "NoNewPrivs:")),
                    qPrintable(field(writer, "Seccomp:")));
        QFile environ(QStringLiteral("/proc/%1/environ").arg(helper));
        environ.open(QIODevice::ReadOnly);
        std::printf("helper environ bytes: %lld\n",
                    static_cast<long long>(environ.readAll().size()));
        return 0;
    }
    int status = 3;
    socket.DataArrival = [&](std::int32_t size) {
        std::vector<std::uint8_t> d = socket.getData(size);
        std::printf("received %lld bytes on %s\n", static_cast<long long>(d.size()),
                    socket.arrivalInterfaceName().c_str());
        socket.close();
        socket.setRemoteHost("255.255.255.255");
        socket.setRemotePort(68);
        behaviour::PublicArea area;
        area.G_IpAddr = {10, 77, 0, 20};
        area.G_SbMask = {255, 255, 255, 0};
        behaviour::makeReply(d, area);
        try {
            socket.sendData(d);
            std::printf("sent\n");
            status = 0;
        } catch (const SearchFailure& e) {
            std::printf("send failed %d: %s\n", e.number(), e.detail().c_str());
            status = 1;
        }
        app.quit();
    };
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    return status;
}
