#include "WinSeams.h"

#include "AnswerTexts.h"
#include "BootMessage.h"
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

WinDatagramSocket::WinDatagramSocket(std::shared_ptr<CardSession> session)
    : m_session(std::move(session))
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
    endSearch();
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
    setLocalPort(localPort);
    if (m_winsock.error() != 0) {
        throw SearchFailure(
            m_winsock.error(),
            failureText({"WSAStartup", static_cast<unsigned long>(m_winsock.error())}));
    }
    if (!m_session->port) {
        Result<std::unique_ptr<CardPort>> opened =
            CardPort::open(static_cast<std::uint16_t>(localPort));
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
        const Result<Done> notified = (*opened)->socket()->notify(m_window, kSelectMessage);
        if (!notified) {
            throw SearchFailure(static_cast<int>(notified.failure().code),
                                failureText(notified.failure()));
        }
        m_session->port = std::move(*opened);
    }
    const helper::Answer a = m_session->port->listen();
    if (!a.ok()) {
        endSearch();
        throw SearchFailure(a.error,
                            m_session->port ? m_session->port->words(a) : helper::answerText(a));
    }
    m_waiting.clear();
    m_listening = true;
    // What arrived while paused was dropped unread; the port's next datagram posts again.
    PostMessageW(m_window, kSelectMessage, m_session->port->waitHandle(), 0);
}

void WinDatagramSocket::onSelect(std::uintptr_t socket, unsigned error)
{
    // A message of a port let go meanwhile, or of an earlier one, is nobody's.
    if (!m_session->port || socket != m_session->port->waitHandle()) {
        return;
    }
    if (error != 0) {
        if (Error) {
            Error(static_cast<std::int16_t>(error), describe({"WSAAsyncSelect", error}));
        }
        return;
    }
    // At most a burst per message, so that a flood cannot starve the windows; a datagram left
    // unread posts the message again. While paused the port reads and drops what comes.
    for (int i = 0; i < 64; ++i) {
        if (m_waiting.empty()) {
            std::optional<helper::Request> request =
                m_session->port ? m_session->port->readRequest() : std::nullopt;
            if (!request) {
                return;
            }
            m_waiting.push_back(std::move(*request));
        }
        if (!m_listening) {
            m_waiting.clear();
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
}

std::vector<std::uint8_t> WinDatagramSocket::getData(int maxLength)
{
    if (m_waiting.empty()) {
        return {};
    }
    helper::Request request = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_session->requestId = request.id;
    m_session->arrival = static_cast<unsigned long>(request.ifindex);
    m_arrivalName = interfaceName(m_session->arrival);
    std::vector<std::uint8_t> bytes = std::move(request.datagram);
    if (maxLength >= 0 && bytes.size() > static_cast<std::size_t>(maxLength)) {
        bytes.resize(static_cast<std::size_t>(maxLength));
    }
    return bytes;
}

void WinDatagramSocket::sendData(const std::vector<std::uint8_t>& data)
{
    // The card port sends only to the limited broadcast on the client port, which is the one
    // place the windows send to.
    if (m_remoteHost != "255.255.255.255" || m_remotePort != bootp::kClientPort) {
        text::Twin cause = twin(Id::CauseBadDestination);
        cause.english += " (" + m_remoteHost + ":" + std::to_string(m_remotePort) + ")";
        throw SearchFailure(0, cause);
    }
    if (!m_session->port) {
        throw SearchFailure(0, twin(Id::CauseUnknownRequest));
    }
    const helper::Answer a = m_session->port->reply(m_session->requestId, data);
    if (!a.ok()) {
        throw SearchFailure(a.error,
                            m_session->port ? m_session->port->words(a) : helper::answerText(a));
    }
}

void WinDatagramSocket::close()
{
    m_listening = false;
    m_waiting.clear();
    if (m_session->port) {
        m_session->port->pause();
    }
}

void WinDatagramSocket::endSearch()
{
    close();
    m_session->port.reset();
}

std::string WinDatagramSocket::arrivalAddress() const
{
    const Result<std::vector<InterfaceAddress>> addresses = interfaceAddresses(m_session->arrival);
    if (!addresses || addresses->empty()) {
        return {};
    }
    return bootp::ipText(addresses->front().ip);
}

bool WinDatagramSocket::arrivalSubnetHolds(const std::string& address) const
{
    const std::optional<bootp::Ipv4> ip = bootp::parseIp(address);
    const Result<std::vector<InterfaceAddress>> addresses = interfaceAddresses(m_session->arrival);
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
    return interfaceAddresses(m_session->arrival).ok();
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

text::Twin WinNeighbourTable::addPermanent(int, const std::array<std::uint8_t, 4>& ip,
                                           const std::array<std::uint8_t, 6>& mac)
{
    // The interface is the one the port saw the request arrive on; it is not asked for.
    if (!m_session->port) {
        return twin(Id::CauseUnknownRequest);
    }
    const helper::Answer a = m_session->port->neighbour(m_session->requestId, ip, mac);
    return a.ok() ? text::Twin{} : m_session->port->words(a);
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
