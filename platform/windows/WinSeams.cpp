#include "WinSeams.h"

#include "AnswerTexts.h"
#include "OsVersion.h"
#include "SearchFailure.h"
#include "Texts.h"

#include "Win32.h"

#include <cstdio>

namespace winnet {

using text::Id;
using text::twin;

namespace {

constexpr UINT kSelectMessage = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"TorvaneSocketWindow";
/// Larger than any request a card sends, so that a longer datagram shows as too long.
constexpr std::size_t kReadLength = 1500;

LRESULT CALLBACK socketWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kSelectMessage) {
        auto* self = reinterpret_cast<WinDatagramSocket*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            self->onSelect(static_cast<std::uintptr_t>(wParam), WSAGETSELECTERROR(lParam));
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

text::Twin failureText(const Failure& f)
{
    text::Twin t = twin(Id::CauseErrno, {std::to_string(f.code)});
    t.english += " (" + describe(f) + ")";
    return t;
}

bool holds(const InterfaceAddress& a, const bootp::Ipv4& ip)
{
    const std::uint32_t mask = a.prefix <= 0 ? 0 : ~std::uint32_t(0) << (32 - a.prefix);
    return (bootp::toValue(a.ip) & mask) == (bootp::toValue(ip) & mask);
}

} // namespace

WinDatagramSocket::WinDatagramSocket()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = socketWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                               nullptr);
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

WinDatagramSocket::~WinDatagramSocket()
{
    close();
    if (m_window != nullptr) {
        DestroyWindow(m_window);
    }
}

std::string WinDatagramSocket::localIP() const
{
    const Result<bootp::HostFacts> facts = hostFacts();
    if (facts) {
        for (const bootp::HostFacts::Address& a : facts->addresses) {
            if (a.ip[0] != 127) {
                return bootp::ipText(a.ip);
            }
        }
    }
    return "127.0.0.1";
}

void WinDatagramSocket::bind(int localPort)
{
    if (m_socket) {
        return;
    }
    if (m_winsock.error() != 0) {
        throw SearchFailure(
            m_winsock.error(),
            failureText({"WSAStartup", static_cast<unsigned long>(m_winsock.error())}));
    }
    Result<UdpServerSocket> opened = UdpServerSocket::open(static_cast<std::uint16_t>(localPort));
    if (!opened) {
        const Failure f = opened.failure();
        if (f.code == WSAEADDRINUSE || f.code == WSAEACCES) {
            const Result<PortHolder> h = udpPortHolder(static_cast<std::uint16_t>(localPort));
            text::Twin who = twin(Id::PortHolderUnknown);
            if (h && h->found && !h->program.empty()) {
                who = twin(Id::PortHolderProgram, {h->program, std::to_string(h->pid)});
            }
            throw SearchFailure(static_cast<int>(f.code), twin(Id::HelperPortInUse, {who}));
        }
        throw SearchFailure(static_cast<int>(f.code), failureText(f));
    }
    const Result<Done> notified = opened->notify(m_window, kSelectMessage);
    if (!notified) {
        throw SearchFailure(static_cast<int>(notified.failure().code),
                            failureText(notified.failure()));
    }
    m_socket.emplace(std::move(*opened));
}

void WinDatagramSocket::onSelect(std::uintptr_t socket, unsigned error)
{
    // A message of a socket closed meanwhile, or of an earlier one, is nobody's.
    if (!m_socket || socket != m_socket->handle()) {
        return;
    }
    if (error != 0) {
        if (Error) {
            Error(static_cast<std::int16_t>(error), describe({"WSAAsyncSelect", error}));
        }
        return;
    }
    Result<std::optional<Datagram>> got = m_socket->receive(kReadLength);
    if (!got) {
        // A datagram without its interface, or a reset from an earlier send: the next one
        // may be answerable, so the search goes on; stderr keeps the cause.
        std::fprintf(stderr, "torvane: %s\n", describe(got.failure()).c_str());
        return;
    }
    if (!got->has_value()) {
        return;
    }
    m_pending = std::move(**got);
    const std::int32_t total = m_pending->truncated
                                   ? std::int32_t(kReadLength + 1)
                                   : static_cast<std::int32_t>(m_pending->bytes.size());
    m_arrival = m_pending->ifindex;
    m_arrivalName = interfaceName(m_arrival);
    if (DataArrival) {
        DataArrival(total);
    }
}

std::vector<std::uint8_t> WinDatagramSocket::getData(int maxLength)
{
    if (!m_pending) {
        return {};
    }
    std::vector<std::uint8_t> bytes = std::move(m_pending->bytes);
    m_pending.reset();
    if (maxLength >= 0 && bytes.size() > static_cast<std::size_t>(maxLength)) {
        bytes.resize(static_cast<std::size_t>(maxLength));
    }
    return bytes;
}

void WinDatagramSocket::sendData(const std::vector<std::uint8_t>& data)
{
    // The reply leaves from port 67 (the remote host is always the broadcast address): the
    // listening socket sends it, or, while closed, one opened for the send.
    std::optional<UdpServerSocket> ownSocket;
    UdpServerSocket* socket = m_socket ? &*m_socket : nullptr;
    if (socket == nullptr) {
        Result<UdpServerSocket> opened =
            UdpServerSocket::open(static_cast<std::uint16_t>(m_localPort));
        if (!opened) {
            throw SearchFailure(static_cast<int>(opened.failure().code),
                                failureText(opened.failure()));
        }
        ownSocket.emplace(std::move(*opened));
        socket = &*ownSocket;
    }
    const Result<Done> sent =
        socket->broadcast(data, m_arrival, static_cast<std::uint16_t>(m_remotePort));
    if (!sent) {
        throw SearchFailure(static_cast<int>(sent.failure().code), failureText(sent.failure()));
    }
}

void WinDatagramSocket::close()
{
    m_socket.reset();
    m_pending.reset();
}

std::string WinDatagramSocket::arrivalAddress() const
{
    const Result<std::vector<InterfaceAddress>> addresses = interfaceAddresses(m_arrival);
    if (!addresses || addresses->empty()) {
        return {};
    }
    return bootp::ipText(addresses->front().ip);
}

bool WinDatagramSocket::arrivalSubnetHolds(const std::string& address) const
{
    const std::optional<bootp::Ipv4> ip = bootp::parseIp(address);
    const Result<std::vector<InterfaceAddress>> addresses = interfaceAddresses(m_arrival);
    if (!ip || !addresses) {
        return false;
    }
    for (const InterfaceAddress& a : *addresses) {
        if (holds(a, *ip)) {
            return true;
        }
    }
    return false;
}

bool WinDatagramSocket::arrivalInterfaceExists() const
{
    // A query that fails counts as gone: nothing is sent or written on an interface that
    // cannot be seen.
    return interfaceAddresses(m_arrival).ok();
}

std::string interfaceName(unsigned long ifindex)
{
    NET_LUID luid{};
    wchar_t alias[NDIS_IF_MAX_STRING_SIZE + 1] = {};
    if (ConvertInterfaceIndexToLuid(ifindex, &luid) == NO_ERROR &&
        ConvertInterfaceLuidToAlias(&luid, alias, NDIS_IF_MAX_STRING_SIZE + 1) == NO_ERROR &&
        alias[0] != L'\0') {
        return utf8(alias);
    }
    return "interface " + std::to_string(ifindex);
}

text::Twin neighbourOutcomeText(const NeighbourOutcome& outcome)
{
    switch (outcome.kind) {
    case NeighbourOutcome::Kind::Written:
        return {};
    case NeighbourOutcome::Kind::Refused:
        return twin(helper::refusalTextId(outcome.refusal));
    case NeighbourOutcome::Kind::Unsupported:
        return twin(Id::WinNeighbourUnsupported, {std::string(outcome.failure.call)});
    case NeighbourOutcome::Kind::Failed:
        break;
    }
    return failureText(outcome.failure);
}

text::Twin WinNeighbourTable::addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                                           const std::array<std::uint8_t, 6>& mac)
{
    return neighbourOutcomeText(
        addPermanentNeighbour(static_cast<unsigned long>(ifindex), ip, mac));
}

double WinClock::seconds()
{
    return static_cast<double>(GetTickCount64()) / 1000.0;
}

} // namespace winnet

void queryOsVersion(OsVersion& version)
{
    // GetVersionEx answers what the manifest declares; ntdll's RtlGetVersion the system itself.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll == nullptr ? nullptr
                                      : reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get == nullptr || get(&info) != 0) {
        version = {};
        return;
    }
    version.platformId = static_cast<int>(info.dwPlatformId);
    version.release = std::to_string(info.dwMajorVersion) + '.' +
                      std::to_string(info.dwMinorVersion) + '.' +
                      std::to_string(info.dwBuildNumber);
}
