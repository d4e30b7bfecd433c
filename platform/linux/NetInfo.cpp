#include "NetInfo.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

namespace {

int prefixOf(const sockaddr* mask)
{
    if (mask == nullptr) {
        return 32;
    }
    return __builtin_popcount(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
}

} // namespace

QList<InterfaceAddress> interfaceAddresses(int ifindex)
{
    QList<InterfaceAddress> result;
    const QString name = interfaceName(ifindex);
    ifaddrs* list = nullptr;
    if (name.isEmpty() || getifaddrs(&list) != 0) {
        return result;
    }
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET &&
            name == QLatin1String(a->ifa_name)) {
            result.append({ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr),
                           prefixOf(a->ifa_netmask)});
        }
    }
    freeifaddrs(list);
    return result;
}

QString interfaceName(int ifindex)
{
    char name[IF_NAMESIZE] = {};
    if (ifindex <= 0 || if_indextoname(static_cast<unsigned>(ifindex), name) == nullptr) {
        return {};
    }
    return QString::fromLocal8Bit(name);
}

QString dottedAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg(address >> 16 & 0xFF)
        .arg(address >> 8 & 0xFF)
        .arg(address & 0xFF);
}

PortHolder udpPortHolder(int port)
{
    // /proc/net/udp lists the socket's owner and inode; the program is the process that has
    // that inode open, visible only for this user's own processes (or to root).
    PortHolder holder;
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return holder;
    }
    const QByteArray portHex =
        QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    QString inode;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 9 && f[1].toUpper().endsWith(portHex)) {
            holder.found = true;
            const uid_t uid = f[7].toUInt();
            const passwd* pw = getpwuid(uid);
            holder.user =
                pw != nullptr ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
            inode = QString::fromLatin1(f[9]);
            break;
        }
    }
    if (inode.isEmpty() || inode == QLatin1String("0")) {
        return holder;
    }
    const QString target = QStringLiteral("socket:[%1]").arg(inode);
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        const qint64 number = pid.toLongLong(&numeric);
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
                holder.program = QString::fromLocal8Bit(comm.readAll()).trimmed();
                holder.pid = number;
                return holder;
            }
        }
    }
    return holder;
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
        const QString text =
            dottedAddress(ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr));
        if (onRoute.isEmpty() && !routeIf.isEmpty() && routeIf == QLatin1String(a->ifa_name)) {
            onRoute = text;
        }
        if (firstUp.isEmpty() && (a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) {
            firstUp = text;
        }
    }
    freeifaddrs(list);
    if (!onRoute.isEmpty()) {
        return onRoute;
    }
    return firstUp.isEmpty() ? QStringLiteral("127.0.0.1") : firstUp;
}
