#include "CardPort.h"

#include "Texts.h"
#include "Win32.h"

#include <cerrno>

namespace winnet {

using helper::Answer;

namespace {

/// A card repeats its request every second or two; a loop that reads more than this at once
/// lets the rest of the program run and comes back.
constexpr int kReadsPerCall = 64;

/// An interface that cannot be looked up counts as loopback: nothing is passed on from it.
bool isLoopback(unsigned long ifindex)
{
    NET_LUID luid{};
    return ::ConvertInterfaceIndexToLuid(ifindex, &luid) != NO_ERROR ||
           luid.Info.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
}

} // namespace

Result<std::unique_ptr<CardPort>> CardPort::open(std::uint16_t port)
{
    std::unique_ptr<CardPort> card(new CardPort());
    if (card->m_winsock.error() != 0) {
        return Failure{"WSAStartup", static_cast<unsigned long>(card->m_winsock.error())};
    }
    Result<UdpServerSocket> socket = UdpServerSocket::open(port);
    if (!socket) {
        return socket.failure();
    }
    card->m_socket.emplace(std::move(*socket));
    return card;
}

Answer CardPort::listen()
{
    m_keeper.setListening(true);
    return {};
}

Answer CardPort::pause()
{
    m_keeper.setListening(false);
    if (!m_socket) {
        return {};
    }
    // Whatever arrived until now belongs to no search.
    for (int i = 0; i < kReadsPerCall; ++i) {
        const Result<bool> waiting = m_socket->waitReadable(0);
        if (!waiting || !*waiting) {
            break;
        }
        (void)m_socket->receive(helper::kMaxRequest + 1);
    }
    return {};
}

std::optional<helper::Request> CardPort::readRequest()
{
    if (!m_socket) {
        return std::nullopt;
    }
    for (int i = 0; i < kReadsPerCall; ++i) {
        const Result<bool> waiting = m_socket->waitReadable(0);
        if (!waiting || !*waiting) {
            return std::nullopt;
        }
        Result<std::optional<Datagram>> got = m_socket->receive(helper::kMaxRequest + 1);
        if (!got || !got->has_value()) {
            // A datagram without its interface, or a reset left by an earlier send: the next
            // one may be a card's.
            continue;
        }
        const Datagram& d = **got;
        if (d.truncated) {
            continue;
        }
        // Winsock shows no Ethernet header: the frame's broadcast destination and the
        // interface's kind cannot be checked here, only the addresses.
        helper::Arrival arrival;
        arrival.ifindex = static_cast<int>(d.ifindex);
        arrival.source = d.source;
        arrival.destination = d.destination;
        arrival.sourcePort = d.sourcePort;
        arrival.loopback = isLoopback(d.ifindex);
        if (auto request = m_keeper.arrived(d.bytes, arrival)) {
            return request;
        }
    }
    return std::nullopt;
}

Answer CardPort::reply(std::uint32_t id, const helper::Bytes& datagram)
{
    return m_keeper.reply(id, datagram);
}

Answer CardPort::neighbour(std::uint32_t id, const helper::Ipv4& ip, const helper::Mac& mac)
{
    return m_keeper.neighbour(id, ip, mac);
}

Answer CardPort::finish(std::uint32_t id)
{
    return m_keeper.finish(id);
}

Answer CardPort::temporary(std::uint32_t id, const helper::Ipv4& address, std::uint32_t lifetime)
{
    return m_keeper.temporary(id, address, lifetime);
}

Answer CardPort::addTemporary(const helper::TemporaryRecord& record)
{
    // Without elevation the IP Helper refuses; the window gives the netsh lines instead.
    if (!runsElevated()) {
        return {EPERM, helper::Refusal::None, "CreateUnicastIpAddressEntry"};
    }
    const Answer a = addTemporaryAddress(record);
    if (a.ok()) {
        m_temporaries.push_back(record);
    }
    return a;
}

void CardPort::removeTemporaries()
{
    for (const helper::TemporaryRecord& r : m_temporaries) {
        removeTemporaryAddress(static_cast<unsigned long>(r.ifindex), r.address, r.card);
    }
    m_temporaries.clear();
}

CardPort::~CardPort()
{
    removeTemporaries();
}

bool CardPort::hostFacts(bootp::HostFacts& out)
{
    Result<bootp::HostFacts> host = winnet::hostFacts();
    if (host) {
        out = std::move(*host);
    }
    return host.ok();
}

double CardPort::now()
{
    return static_cast<double>(::GetTickCount64()) / 1000.0;
}

Answer CardPort::send(std::span<const std::uint8_t> reply, int ifindex)
{
    if (!m_socket) {
        return failedAnswer({"send", WSAENOTSOCK});
    }
    // The limited broadcast to the client port, out of the interface the request came in on.
    const Result<Done> sent =
        m_socket->broadcast(reply, static_cast<unsigned long>(ifindex), m_clientPort);
    return sent ? Answer{} : failedAnswer(sent.failure());
}

Answer CardPort::writeEntry(const helper::EntryRecord& r)
{
    return addPermanentNeighbour(static_cast<unsigned long>(r.ifindex), r.ip, r.mac);
}

text::Twin CardPort::words(const Answer& answer) const
{
    // Both carry the call that failed as their reason (see addPermanentNeighbour).
    if (answer.error == ENOSYS && !answer.reason.empty()) {
        return text::twin(text::Id::WinNeighbourUnsupported, {answer.reason});
    }
    if (answer.error == EPERM && !answer.reason.empty()) {
        return text::twin(text::Id::WinNeighbourNotAdministrator,
                          {answer.reason, std::to_string(ERROR_ACCESS_DENIED)});
    }
    return helper::answerText(answer);
}

void CardPort::stop()
{
    removeTemporaries();
    m_keeper.setListening(false);
    m_socket.reset();
}

} // namespace winnet
