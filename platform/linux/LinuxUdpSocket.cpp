#include "LinuxUdpSocket.h"

#include "FatalError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// At most this many datagrams are handled per wake-up, so that a flood of other clients'
// traffic cannot starve the timers and the windows.
constexpr int kBurst = 64;
constexpr int kMaxDatagram = 65535;
constexpr int kReceiveBuffer = 4 * 1024 * 1024;

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString bindFailure(int port, int err)
{
    switch (err) {
    case EADDRINUSE: {
        const QString holder = udpPortHolder(port);
        return QStringLiteral("UDP port %1 is already in use by %2. Another DHCP/BOOTP server "
                              "is running on this PC; stop it, then start the search again.")
            .arg(port)
            .arg(holder.isEmpty() ? QStringLiteral("another program") : holder);
    }
    case EACCES:
    case EPERM:
        return QStringLiteral("Not allowed to use UDP port %1: Torvane needs root or the "
                              "capability cap_net_bind_service. Grant it with: sudo setcap "
                              "cap_net_bind_service,cap_net_admin+ep %2")
            .arg(port)
            .arg(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    default:
        return QStringLiteral("Cannot bind UDP port %1: %2").arg(port).arg(errnoText(err));
    }
}

bool fillAddress(const QString& host, int port, sockaddr_in& to)
{
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    return inet_pton(AF_INET, host.toLatin1().constData(), &to.sin_addr) == 1;
}

} // namespace

LinuxUdpSocket::LinuxUdpSocket() = default;

LinuxUdpSocket::~LinuxUdpSocket()
{
    close();
}

QString LinuxUdpSocket::localIP() const
{
    return defaultLocalAddress();
}

void LinuxUdpSocket::bind(int localPort)
{
    close();
    setLocalPort(localPort);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int err = errno;
        throw FatalError(err, QStringLiteral("Cannot create a UDP socket: %1").arg(errnoText(err)));
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // Room for a burst of other clients' traffic while the UI thread is busy, so that a
    // card's request is not dropped at a full queue; beyond rmem_max only with cap_net_admin.
    const int buffer = kReceiveBuffer;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(localPort));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        throw FatalError(err, bindFailure(localPort, err));
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LinuxUdpSocket::readable);
}

int LinuxUdpSocket::pendingSize() const
{
    char byte;
    // MSG_TRUNC makes recv report the datagram's real length, 0 for an empty one.
    const ssize_t n = ::recv(m_fd, &byte, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    return n < 0 ? -1 : static_cast<int>(n);
}

void LinuxUdpSocket::readable()
{
    for (int i = 0; i < kBurst && m_fd >= 0; ++i) {
        const int size = pendingSize();
        if (size < 0) {
            const int err = errno;
            if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR) {
                emit Error(static_cast<qint16>(err), errnoText(err));
            }
            return;
        }
        const quint64 before = m_reads;
        emit DataArrival(size);
        if (m_reads == before) {
            return; // the handler left it queued; the notifier will fire again
        }
    }
}

QByteArray LinuxUdpSocket::getData(int maxLength)
{
    if (m_fd < 0) {
        throw FatalError(EBADF, QStringLiteral("Cannot read: the UDP socket is closed"));
    }
    QByteArray data(std::clamp(maxLength, 0, kMaxDatagram), Qt::Uninitialized);
    iovec iov{data.data(), static_cast<std::size_t>(data.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT);
    if (n < 0) {
        return {};
    }
    ++m_reads;
    m_arrivalIf = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            m_arrivalIf = info.ipi_ifindex;
        }
    }
    data.truncate(std::min<ssize_t>(n, data.size()));
    return data;
}

void LinuxUdpSocket::sendData(const QByteArray& data)
{
    sockaddr_in to;
    if (!fillAddress(remoteHost(), remotePort(), to)) {
        throw FatalError(EINVAL, QStringLiteral("Invalid remote address \"%1\"").arg(remoteHost()));
    }
    // The listener is normally closed here; the reply still has to leave from the server port.
    int fd = m_fd;
    const bool own = fd < 0;
    if (own) {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(static_cast<std::uint16_t>(localPort()));
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            const int err = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            throw FatalError(err, bindFailure(localPort(), err));
        }
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    iovec iov{const_cast<char*>(data.constData()), static_cast<std::size_t>(data.size())};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    // The limited broadcast must leave by the card's interface: with no default route the
    // routing table has no way out for it, and with one on another NIC it would leave there.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (m_arrivalIf > 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = m_arrivalIf;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    const ssize_t sent = ::sendmsg(fd, &msg, 0);
    const int err = errno;
    if (own) {
        ::close(fd);
    }
    if (sent != data.size()) {
        throw FatalError(err, QStringLiteral("Cannot send the reply to %1:%2: %3")
                                  .arg(remoteHost())
                                  .arg(remotePort())
                                  .arg(sent < 0 ? errnoText(err) : QStringLiteral("short send")));
    }
}

void LinuxUdpSocket::close()
{
    // Closing happens inside the data-arrival handler, i.e. while the notifier is emitting.
    if (m_notifier != nullptr) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

QString udpPortHolder(int port)
{
    // /proc/net/udp lists the socket's inode; the holder is the process with that inode open.
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QString portHex = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    QString inode;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 9 && f[1].toUpper().endsWith(portHex.toLatin1())) {
            inode = QString::fromLatin1(f[9]);
            break;
        }
    }
    if (inode.isEmpty() || inode == QLatin1String("0")) {
        return {};
    }
    const QString target = QStringLiteral("socket:[%1]").arg(inode);
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric) {
            continue;
        }
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System);
        for (const QString& fd : fds) {
            char link[64] = {};
            const QByteArray path = (fdDir + QLatin1Char('/') + fd).toLocal8Bit();
            if (::readlink(path.constData(), link, sizeof link - 1) > 0 &&
                target == QLatin1String(link)) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                comm.open(QIODevice::ReadOnly);
                return QStringLiteral("%1 (pid %2)")
                    .arg(QString::fromLocal8Bit(comm.readAll()).trimmed(), pid);
            }
        }
    }
    return {};
}

QString defaultLocalAddress()
{
    // The interface of the default route, from the kernel's IPv4 routing table.
    QString routeIf;
    QFile routes(QStringLiteral("/proc/net/route"));
    if (routes.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = routes.readAll().split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 7 && f[1] == "00000000" && f[7] == "00000000") {
                routeIf = QString::fromLatin1(f[0]);
                break;
            }
        }
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return QStringLiteral("127.0.0.1");
    }
    QString onRoute;
    QString firstUp;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                  sizeof text);
        if (onRoute.isEmpty() && !routeIf.isEmpty() && routeIf == QLatin1String(a->ifa_name)) {
            onRoute = QString::fromLatin1(text);
        }
        if (firstUp.isEmpty() && (a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) {
            firstUp = QString::fromLatin1(text);
        }
    }
    freeifaddrs(list);
    if (!onRoute.isEmpty()) {
        return onRoute;
    }
    return firstUp.isEmpty() ? QStringLiteral("127.0.0.1") : firstUp;
}
