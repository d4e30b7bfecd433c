#include "HelperPort.h"

#include "InterfaceName.h"
#include "NetInfo.h"
#include "SearchFailure.h"
#include "StartTexts.h"

#include <QSocketNotifier>

#include <net/if.h>

HelperPort::~HelperPort()
{
    unwatch();
}

helper::Link& HelperPort::open(int)
{
    if (!m_link.running()) {
        const helper::StartResult r = m_link.start(helper::locateHelper(helper::executableDir()));
        // The window reports it, on stderr too; a code is shown only when there is a real one.
        if (r.error != helper::StartError::None) {
            using text::Id;
            throw SearchFailure(
                r.errnoValue,
                helper::startFailureText(r, {Id::HelperMissing, Id::HelperNotInGroup,
                                             Id::HelperNoPrivilege, Id::HelperPortInUse,
                                             Id::HelperCannotStart, Id::HelperDidNotStart}));
        }
    }
    return m_link;
}

void HelperPort::watch()
{
    unwatch();
    m_notifier = new QSocketNotifier(m_link.fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] {
        if (readable) {
            readable();
        }
    });
}

void HelperPort::unwatch()
{
    // Pausing happens inside the data-arrival handler, i.e. while the notifier is emitting.
    if (m_notifier != nullptr) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
}

std::string HelperPort::localIP() const
{
    return defaultLocalAddress().toStdString();
}

std::string HelperPort::interfaceName(int ifindex) const
{
    return ::interfaceName(static_cast<unsigned>(ifindex));
}

std::optional<std::vector<LinkHooks::Address>> HelperPort::interfaceAddresses(int ifindex) const
{
    int error = 0;
    const QList<InterfaceAddress> all = ::interfaceAddresses(ifindex, &error);
    if (error != 0) {
        return std::nullopt;
    }
    std::vector<Address> result;
    for (const InterfaceAddress& a : all) {
        result.push_back({a.address, a.prefix});
    }
    return result;
}

bool HelperPort::interfaceExists(int ifindex) const
{
    char name[IF_NAMESIZE] = {};
    return ifindex > 0 && ::if_indextoname(static_cast<unsigned>(ifindex), name) != nullptr;
}

long long helperPid(const DatagramSocket& socket)
{
    const auto* link = dynamic_cast<const LinkSocket*>(&socket);
    const auto* port = link != nullptr ? dynamic_cast<const HelperPort*>(&link->hooks()) : nullptr;
    return port != nullptr ? port->helperPid() : -1;
}
