#include "LinkSocket.h"

#include "Addresses.h"
#include "BootMessage.h"
#include "SearchFailure.h"
#include "Temporary.h"
#include "Texts.h"

#include <algorithm>
#include <cstdio>

namespace {

// At most this many requests are handled per wake-up, so that a burst cannot starve the
// timers and the windows.
constexpr int kBurst = 64;

} // namespace

LinkSocket::LinkSocket(std::shared_ptr<LinkSession> session) : m_session(std::move(session))
{
    hooks().readable = [this] { wake(); };
    hooks().failed = [this](std::int16_t number, const std::string& description) {
        if (Error) {
            Error(number, description);
        }
    };
}

LinkSocket::~LinkSocket()
{
    endSearch();
    hooks().readable = nullptr;
    hooks().failed = nullptr;
}

void LinkSocket::bind(int localPort)
{
    setLocalPort(localPort);
    helper::Link& link = hooks().open(localPort);
    finishAssignment(link);
    const helper::Answer a = link.listen();
    if (!a.ok()) {
        const text::Twin cause = text::twin(text::Id::HelperCannotStart, {link.words(a)});
        endSearch();
        throw SearchFailure(a.error, cause);
    }
    m_waiting.clear();
    m_listening = true;
    hooks().watch();
}

void LinkSocket::finishAssignment(helper::Link& link)
{
    // Whatever road the last card took (outside the interface's networks, a box, no entry
    // asked for), listening again ends its assignment, so the next card is answered at once.
    if (!m_session->unfinished) {
        return;
    }
    m_session->unfinished = false;
    const helper::Answer a = link.finish(m_session->requestId);
    // A link started anew knows no request any more, and a reply that failed opened nothing:
    // then nothing is left open there.
    if (!a.ok() && a.refusal != helper::Refusal::UnknownRequest &&
        a.refusal != helper::Refusal::NotReplied) {
        std::fprintf(stderr, "torvane: the last assignment could not be finished: %s\n",
                     link.words(a).english.c_str());
    }
}

void LinkSocket::wake()
{
    for (int i = 0; i < kBurst; ++i) {
        helper::Link* link = hooks().link();
        if (link == nullptr) {
            return;
        }
        if (m_waiting.empty()) {
            std::optional<helper::Request> request = link->readRequest();
            if (!request) {
                break;
            }
            m_waiting.push_back(std::move(*request));
        }
        if (!m_listening) {
            m_waiting.clear(); // paused: it belongs to no search
            continue;
        }
        const std::size_t before = m_waiting.size();
        if (DataArrival) {
            DataArrival(static_cast<std::int32_t>(m_waiting.front().datagram.size()));
        }
        if (m_waiting.size() == before) {
            return; // the handler left it waiting
        }
    }
    const helper::Link* link = hooks().link();
    if (link != nullptr && link->died()) {
        m_listening = false;
        hooks().unwatch();
        const text::Twin ended = text::twin(text::Id::HelperEnded);
        std::fprintf(stderr, "torvane: the search ended: %s\n", ended.english.c_str());
        // The link's end carries no error code.
        hooks().failed(0, ended.local());
    }
}

std::vector<std::uint8_t> LinkSocket::getData(int maxLength)
{
    if (m_waiting.empty()) {
        return {};
    }
    helper::Request request = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_session->requestId = request.id;
    m_session->arrival = request.ifindex;
    m_arrivalName = hooks().interfaceName(request.ifindex);
    std::vector<std::uint8_t> bytes = std::move(request.datagram);
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(std::max(0, maxLength))));
    return bytes;
}

void LinkSocket::sendData(const std::vector<std::uint8_t>& data)
{
    // The link sends only to the limited broadcast on the client port, which is the one place
    // the windows send to.
    if (m_remoteHost != "255.255.255.255" || m_remotePort != bootp::kClientPort) {
        text::Twin cause = text::twin(text::Id::CauseBadDestination);
        cause.english += " (" + m_remoteHost + ":" + std::to_string(m_remotePort) + ")";
        throw SearchFailure(0, cause);
    }
    helper::Link* link = hooks().link();
    if (link == nullptr) {
        throw SearchFailure(0, text::twin(text::Id::CauseUnknownRequest));
    }
    const helper::Answer a = link->reply(m_session->requestId, data);
    // An error rather than a refusal may have come after the reply left.
    m_session->unfinished = !a.refused();
    if (!a.ok()) {
        throw SearchFailure(a.error, link->words(a));
    }
}

void LinkSocket::close()
{
    m_listening = false;
    m_waiting.clear();
    hooks().unwatch();
    if (helper::Link* link = hooks().link()) {
        link->pause();
    }
}

void LinkSocket::endSearch()
{
    close();
    hooks().end();
    m_session->unfinished = false; // the link's ledger went with it
    m_session->temporary = 0;      // and the temporary address with the helper's writer
}

std::string LinkSocket::arrivalAddress() const
{
    const auto addresses = hooks().interfaceAddresses(m_session->arrival);
    if (!addresses || addresses->empty()) {
        return {};
    }
    // A link-local address (169.254.0.0/16) only where the interface has no other.
    const auto routable =
        std::find_if(addresses->begin(), addresses->end(),
                     [](const LinkHooks::Address& a) { return (a.address >> 16) != 0xA9FE; });
    const auto& chosen = routable != addresses->end() ? *routable : addresses->front();
    return bootp::ipText(bootp::fromValue(chosen.address));
}

bool LinkSocket::arrivalSubnetHolds(const std::string& address) const
{
    const std::optional<bootp::Ipv4> ip = bootp::parseIp(address);
    const auto addresses = hooks().interfaceAddresses(m_session->arrival);
    if (!ip || !addresses) {
        return false;
    }
    const std::uint32_t value = bootp::toValue(*ip);
    return std::any_of(addresses->begin(), addresses->end(), [value](const LinkHooks::Address& a) {
        const std::uint32_t mask = bootp::prefixMask(a.prefix);
        return (value & mask) == (a.address & mask);
    });
}

bool LinkSocket::arrivalInterfaceExists() const
{
    return hooks().interfaceExists(m_session->arrival);
}

text::Twin LinkNeighbourTable::addPermanent(int, const std::array<std::uint8_t, 4>& ip,
                                            const std::array<std::uint8_t, 6>& mac)
{
    // The interface is the one the link saw the request arrive on; it is not asked for.
    helper::Link* link = m_session->hooks->link();
    if (link == nullptr) {
        return text::twin(text::Id::CauseUnknownRequest);
    }
    // The link ends the assignment with the entry, whatever becomes of it.
    m_session->unfinished = false;
    const helper::Answer a = link->neighbour(m_session->requestId, ip, mac);
    return a.ok() ? text::Twin{} : link->words(a);
}

namespace {

/// The arrival interface's addresses as the temporary address's rules take this PC's; empty
/// when they cannot be read (the holder of the port checks them again).
bootp::HostFacts arrivalFacts(const LinkSession& session)
{
    bootp::HostFacts host;
    if (const auto addresses = session.hooks->interfaceAddresses(session.arrival)) {
        for (const LinkHooks::Address& a : *addresses) {
            host.addresses.push_back({bootp::fromValue(a.address), a.prefix, session.arrival});
        }
    }
    return host;
}

} // namespace

std::optional<NeighbourTable::Ip> LinkNeighbourTable::proposeTemporary(const Card& card)
{
    return bootp::nextTemporary({card.ip, card.mask, card.gateway}, arrivalFacts(*m_session));
}

NeighbourTable::Temporary LinkNeighbourTable::addTemporary(const Card& card, const Ip& first)
{
    // A few devices answering for the highest hosts are passed over; beyond that the subnet
    // is busier than a commissioning cable, and the operator is told.
    constexpr int kTries = 8;
    helper::Link* link = m_session->hooks->link();
    if (link == nullptr) {
        return {std::nullopt, text::twin(text::Id::CauseUnknownRequest)};
    }
    const bootp::CardSettings settings{card.ip, card.mask, card.gateway};
    const bootp::HostFacts host = arrivalFacts(*m_session);
    text::Twin failure = text::twin(text::Id::CauseNoTemporary);
    std::optional<bootp::Ipv4> candidate = first;
    for (int i = 0; i < kTries && candidate; ++i) {
        const helper::Answer a =
            link->temporary(m_session->requestId, *candidate, helper::kTemporaryLifetime);
        if (a.ok()) {
            m_session->temporary = bootp::toValue(*candidate);
            m_session->temporaryIf = m_session->arrival;
            return {candidate, {}};
        }
        failure = link->words(a);
        // Another device answers for it, or it is an address of another interface: the next.
        if (a.refusal != helper::Refusal::InUse && a.refusal != helper::Refusal::LocalAddress) {
            return {std::nullopt, failure};
        }
        std::fprintf(stderr, "torvane: temporary address %s passed over: %s\n",
                     bootp::ipText(*candidate).c_str(), failure.english.c_str());
        candidate = bootp::nextTemporary(settings, host, candidate);
    }
    return {std::nullopt, failure};
}

bool LinkNeighbourTable::temporaryPresent()
{
    if (m_session->temporary == 0) {
        return true;
    }
    const auto addresses = m_session->hooks->interfaceAddresses(m_session->temporaryIf);
    // An interface whose addresses cannot be read is no proof that the address went.
    if (!addresses) {
        return true;
    }
    return std::any_of(addresses->begin(), addresses->end(), [this](const LinkHooks::Address& a) {
        return a.address == m_session->temporary && a.prefix == 32;
    });
}

std::optional<text::Twin> LinkNeighbourTable::temporaryByHand(const Card& card, const Ip& proposal)
{
    return m_session->hooks->temporaryByHand(m_session->arrival, proposal, card.ip);
}

std::array<std::string, 4> netshTemporaryLines(const std::string& name,
                                               const std::array<std::uint8_t, 4>& address,
                                               const std::array<std::uint8_t, 4>& card)
{
    const std::string quoted = "\"" + name + "\"";
    const std::string ip = bootp::ipText(address);
    const std::string route = bootp::ipText(card) + "/32";
    return {"netsh interface ipv4 add address " + quoted + " " + ip +
                " 255.255.255.255 store=active",
            "netsh interface ipv4 add route " + route + " " + quoted + " store=active",
            "netsh interface ipv4 delete route " + route + " " + quoted + " store=active",
            "netsh interface ipv4 delete address " + quoted + " " + ip + " store=active"};
}
