#include "WinSeams.h"

#include "InterfaceName.h"
#include "OsVersion.h"
#include "PortHolderText.h"
#include "SearchFailure.h"
#include "Texts.h"

#include "Win32.h"

namespace winnet {

using text::Id;
using text::twin;

namespace {

constexpr UINT kSelectMessage = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"TorvaneSocketWindow";

LRESULT CALLBACK socketWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kSelectMessage) {
        auto* self = reinterpret_cast<CardPortHooks*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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

} // namespace

CardPortHooks::CardPortHooks()
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

CardPortHooks::~CardPortHooks()
{
    m_port.reset();
    if (m_window != nullptr) {
        DestroyWindow(m_window);
    }
}

helper::Link& CardPortHooks::open(int port)
{
    if (m_winsock.error() != 0) {
        throw SearchFailure(
            m_winsock.error(),
            failureText({"WSAStartup", static_cast<unsigned long>(m_winsock.error())}));
    }
    if (m_port) {
        return *m_port;
    }
    Result<std::unique_ptr<CardPort>> opened = CardPort::open(static_cast<std::uint16_t>(port));
    if (!opened) {
        const Failure f = opened.failure();
        if (f.code == WSAEADDRINUSE || f.code == WSAEACCES) {
            throw SearchFailure(static_cast<int>(f.code),
                                twin(Id::HelperPortInUse, {udpPortHolderText(port)}));
        }
        throw SearchFailure(static_cast<int>(f.code), failureText(f));
    }
    const Result<Done> notified = (*opened)->socket()->notify(m_window, kSelectMessage);
    if (!notified) {
        throw SearchFailure(static_cast<int>(notified.failure().code),
                            failureText(notified.failure()));
    }
    m_port = std::move(*opened);
    return *m_port;
}

void CardPortHooks::watch()
{
    // What arrived while paused was dropped unread; the port's next datagram posts again.
    PostMessageW(m_window, kSelectMessage, m_port->waitHandle(), 0);
}

void CardPortHooks::onSelect(std::uintptr_t socket, unsigned error)
{
    // A message of a port let go meanwhile, or of an earlier one, is nobody's.
    if (!m_port || socket != m_port->waitHandle()) {
        return;
    }
    if (error != 0) {
        if (failed) {
            failed(static_cast<std::int16_t>(error), describe({"WSAAsyncSelect", error}));
        }
        return;
    }
    // A datagram left unread posts the message again; while paused the port reads and drops
    // what comes.
    if (readable) {
        readable();
    }
}

std::string CardPortHooks::localIP() const
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

std::string CardPortHooks::interfaceName(int ifindex) const
{
    return ::interfaceName(static_cast<unsigned>(ifindex));
}

std::optional<text::Twin>
CardPortHooks::temporaryByHand(int ifindex, const std::array<std::uint8_t, 4>& address,
                               const std::array<std::uint8_t, 4>& card) const
{
    if (runsElevated()) {
        return std::nullopt;
    }
    // Each command on a line of its own, indented, so that it can be copied whole.
    const std::array<std::string, 4> lines =
        netshTemporaryLines(interfaceName(ifindex), address, card);
    return text::twin(
        text::Id::WinTemporaryAdministrator,
        {"    " + lines[0] + "\n    " + lines[1], "    " + lines[2] + "\n    " + lines[3]});
}

std::optional<std::vector<LinkHooks::Address>> CardPortHooks::interfaceAddresses(int ifindex) const
{
    const Result<std::vector<InterfaceAddress>> all =
        winnet::interfaceAddresses(static_cast<unsigned long>(ifindex));
    if (!all) {
        return std::nullopt;
    }
    std::vector<Address> result;
    for (const InterfaceAddress& a : *all) {
        result.push_back({bootp::toValue(a.ip), a.prefix});
    }
    return result;
}

bool CardPortHooks::interfaceExists(int ifindex) const
{
    // A query that fails counts as gone: nothing is sent or written on an interface that
    // cannot be seen.
    return winnet::interfaceAddresses(static_cast<unsigned long>(ifindex)).ok();
}

std::shared_ptr<LinkSession> cardSession()
{
    return std::make_shared<LinkSession>(std::make_unique<CardPortHooks>());
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
