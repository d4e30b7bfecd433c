#include "HelperUdpSocket.h"

#include "HelperTexts.h"
#include "NetInfo.h"
#include "SearchFailure.h"

#include <QSocketNotifier>

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>

namespace {

// At most this many requests are handled per wake-up, so that a burst cannot starve the
// timers and the windows.
constexpr int kBurst = 64;

std::uint32_t parse(const QString& dotted)
{
    in_addr a{};
    return inet_pton(AF_INET, dotted.toLatin1().constData(), &a) == 1 ? ntohl(a.s_addr) : 0;
}

void logFailure(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "torvane: %s: %s\n", what, detail.c_str());
}

} // namespace

HelperUdpSocket::HelperUdpSocket(std::shared_ptr<HelperSession> session)
    : m_session(std::move(session))
{
}

HelperUdpSocket::~HelperUdpSocket()
{
    endSearch();
}

QString HelperUdpSocket::localIP() const
{
    return defaultLocalAddress();
}

void HelperUdpSocket::bind(int localPort)
{
    setLocalPort(localPort);
    helper::HelperLink& link = m_session->link;
    if (!link.running()) {
        const helper::StartResult r = link.start(helper::locateHelper(helper::executableDir()));
        // The window reports it, on stderr too; a code is shown only when there is a real one.
        if (r.error != helper::StartError::None) {
            throw SearchFailure(r.errnoValue, startFailureText(r));
        }
    }
    const helper::Answer a = link.listen();
    if (!a.ok()) {
        endSearch();
        throw SearchFailure(a.error,
                            text::twin(text::Id::HelperCannotStart, {commandFailureText(a)}));
    }
    m_waiting.clear();
    m_listening = true;
    dropNotifier();
    m_notifier = new QSocketNotifier(link.fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HelperUdpSocket::readable);
}

void HelperUdpSocket::readable()
{
    helper::HelperLink& link = m_session->link;
    for (int i = 0; i < kBurst && m_listening; ++i) {
        if (m_waiting.empty()) {
            std::optional<helper::Request> m = link.readRequest();
            if (!m) {
                break;
            }
            m_waiting.push_back(std::move(*m));
        }
        const std::size_t before = m_waiting.size();
        emit DataArrival(static_cast<qint32>(m_waiting.front().datagram.size()));
        if (m_waiting.size() == before) {
            return; // the handler left it waiting
        }
    }
    if (link.died()) {
        m_listening = false;
        dropNotifier();
        const text::Twin ended = text::twin(text::Id::HelperEnded);
        logFailure("the search ended", ended.english);
        // The link's end of file carries no error code.
        emit Error(0, QString::fromStdString(ended.local()));
    }
}

QByteArray HelperUdpSocket::getData(int maxLength)
{
    if (m_waiting.empty()) {
        return {};
    }
    helper::Request m = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_session->requestId = m.id;
    m_session->arrivalInterface = m.ifindex;
    m_arrivalName = interfaceName(m.ifindex);
    const auto size =
        std::min<std::size_t>(m.datagram.size(), static_cast<std::size_t>(std::max(0, maxLength)));
    return QByteArray(reinterpret_cast<const char*>(m.datagram.data()),
                      static_cast<qsizetype>(size));
}

void HelperUdpSocket::sendData(const QByteArray& data)
{
    // The helper sends only to the limited broadcast on the client port, which is the one
    // place the windows send to.
    if (remoteHost() != QLatin1String("255.255.255.255") || remotePort() != 68) {
        text::Twin cause = text::twin(text::Id::CauseBadDestination);
        cause.english +=
            " (" + remoteHost().toStdString() + ":" + std::to_string(remotePort()) + ")";
        throw SearchFailure(0, cause);
    }
    const helper::Bytes bytes(data.begin(), data.end());
    const helper::Answer a = m_session->link.reply(m_session->requestId, bytes);
    if (!a.ok()) {
        throw SearchFailure(a.error, commandFailureText(a));
    }
}

void HelperUdpSocket::close()
{
    m_listening = false;
    m_waiting.clear();
    dropNotifier();
    if (m_session->link.running()) {
        m_session->link.pause();
    }
}

void HelperUdpSocket::endSearch()
{
    close();
    m_session->link.stop();
}

void HelperUdpSocket::dropNotifier()
{
    // Closing happens inside the data-arrival handler, i.e. while the notifier is emitting.
    if (m_notifier != nullptr) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
}

QString HelperUdpSocket::arrivalInterfaceName() const
{
    return m_arrivalName.isEmpty() ? QStringLiteral("interface %1").arg(m_session->arrivalInterface)
                                   : m_arrivalName;
}

QString HelperUdpSocket::arrivalAddress() const
{
    const QList<InterfaceAddress> addresses = interfaceAddresses(m_session->arrivalInterface);
    return addresses.isEmpty() ? QString() : dottedAddress(addresses.front().address);
}

bool HelperUdpSocket::arrivalSubnetHolds(const QString& address) const
{
    const std::uint32_t ip = parse(address);
    for (const InterfaceAddress& a : interfaceAddresses(m_session->arrivalInterface)) {
        const std::uint32_t mask = a.prefix == 0 ? 0 : ~std::uint32_t(0) << (32 - a.prefix);
        if ((ip & mask) == (a.address & mask)) {
            return true;
        }
    }
    return false;
}

bool HelperUdpSocket::arrivalInterfaceExists() const
{
    return !interfaceName(m_session->arrivalInterface).isEmpty();
}

qint64 HelperUdpSocket::helperPid() const
{
    return m_session->link.running() ? m_session->link.pid() : -1;
}
