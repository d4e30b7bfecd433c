#include "CardPort.h"

#include "BootMessage.h"
#include "Texts.h"
#include "Win32.h"

#include <algorithm>
#include <cerrno>

namespace winnet {

using helper::Answer;
using helper::Refusal;

namespace {

/// A card repeats its request every second or two; a loop that reads more than this at once
/// lets the rest of the program run and comes back.
constexpr int kReadsPerCall = 64;

double now()
{
    return static_cast<double>(::GetTickCount64()) / 1000.0;
}

Answer refuse(Refusal r)
{
    Answer a;
    a.refusal = r;
    return a;
}

/// An interface that cannot be looked up counts as loopback: nothing is passed on from it.
bool isLoopback(unsigned long ifindex)
{
    NET_LUID luid{};
    return ::ConvertInterfaceIndexToLuid(ifindex, &luid) != NO_ERROR ||
           luid.Info.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
}

} // namespace

int errnoOf(unsigned long code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EPERM;
    case WSAEACCES:
        return EACCES;
    case ERROR_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DEV_NOT_EXIST:
        return ENODEV;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case WSAENOBUFS:
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INSUFFICIENT_BUFFER:
        return ENOBUFS;
    case WSAENETDOWN:
    case ERROR_NETWORK_UNREACHABLE:
        return ENETDOWN;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return ENETUNREACH;
    case WSAEWOULDBLOCK:
        return EAGAIN;
    case WSAEMFILE:
        return EMFILE;
    case ERROR_PROC_NOT_FOUND:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOSYS;
    default:
        return EIO;
    }
}

Answer failedAnswer(const Failure& failure)
{
    Answer a;
    a.error = errnoOf(failure.code);
    a.reason = describe(failure);
    return a;
}

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
    m_listening = true;
    return {};
}

Answer CardPort::pause()
{
    m_listening = false;
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
        Datagram& d = **got;
        if (!m_listening || d.truncated ||
            !helper::passOn(d.bytes, d.sourcePort, isLoopback(d.ifindex))) {
            continue;
        }
        if (bootp::toValue(d.source) != 0) {
            // Only a sender with an address can be this PC itself; a failed query passes nothing.
            const Result<bootp::HostFacts> host = hostFacts();
            if (!host || helper::fromThisPc(d.source, *host)) {
                continue;
            }
        }
        helper::Request request;
        request.ifindex = static_cast<std::int32_t>(d.ifindex);
        request.datagram = std::move(d.bytes);
        request.id = m_ledger.remember(request.datagram, request.ifindex, now());
        return request;
    }
    return std::nullopt;
}

Answer CardPort::reply(std::uint32_t id, const helper::Bytes& datagram)
{
    if (const auto refusal = m_ledger.mayReply(id, now())) {
        return refuse(*refusal);
    }
    const helper::Ledger::Entry& entry = *m_ledger.find(id);
    const Result<bootp::HostFacts> host = hostFacts();
    if (!host) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = helper::checkReply(entry.request, datagram, entry.ifindex, *host)) {
        return refuse(*refusal);
    }
    if (!m_socket) {
        return failedAnswer({"send", WSAENOTSOCK});
    }
    // The limited broadcast to the client port, out of the interface the request came in on.
    const Result<Done> sent =
        m_socket->broadcast(datagram, static_cast<unsigned long>(entry.ifindex), m_clientPort);
    if (!sent) {
        return failedAnswer(sent.failure());
    }
    helper::Ipv4 yiaddr;
    std::copy_n(datagram.begin() + bootp::kYiaddr, 4, yiaddr.begin());
    m_ledger.replied(id, yiaddr);
    return {};
}

Answer CardPort::neighbour(std::uint32_t id, const helper::Ipv4& ip, const helper::Mac& mac)
{
    if (const auto refusal = m_ledger.mayWriteNeighbour(id, ip, mac, now())) {
        return refuse(*refusal);
    }
    const int ifindex = m_ledger.find(id)->ifindex;
    m_ledger.finished(id);
    const Result<bootp::HostFacts> host = hostFacts();
    if (!host) {
        return refuse(Refusal::KernelQuery);
    }
    if (const auto refusal = helper::checkEntry(ip, mac, *host)) {
        return refuse(*refusal);
    }
    // addPermanentNeighbour checks the entry again against the table as it is now.
    const NeighbourOutcome outcome =
        addPermanentNeighbour(static_cast<unsigned long>(ifindex), ip, mac);
    switch (outcome.kind) {
    case NeighbourOutcome::Kind::Written:
        return {};
    case NeighbourOutcome::Kind::Refused:
        return refuse(outcome.refusal);
    case NeighbourOutcome::Kind::Unsupported: {
        Answer a;
        a.error = ENOSYS;
        a.reason = outcome.failure.call;
        return a;
    }
    case NeighbourOutcome::Kind::Failed:
        break;
    }
    Answer a = failedAnswer(outcome.failure);
    if (outcome.failure.code == ERROR_ACCESS_DENIED) {
        a.reason = outcome.failure.call;
    }
    return a;
}

text::Twin CardPort::words(const Answer& answer) const
{
    // Both carry the call that failed as their reason (see neighbour).
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
    m_listening = false;
    m_socket.reset();
}

} // namespace winnet
