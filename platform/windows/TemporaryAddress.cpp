#include "WinNet.h"

#include "Win32.h"

#include <cerrno>
#include <cstring>

namespace winnet {

namespace {

using AddressCall = DWORD(WINAPI*)(const MIB_UNICASTIPADDRESS_ROW*);
using AddressGet = DWORD(WINAPI*)(MIB_UNICASTIPADDRESS_ROW*);
using RouteCall = DWORD(WINAPI*)(const MIB_IPFORWARD_ROW2*);

/// The IP Helper's address and route calls, looked up at run time as the neighbour writes
/// are: a Windows (or Wine) without them still starts, and says it cannot.
struct IpHelper {
    IpHelper()
    {
        library = ::LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (library == nullptr) {
            return;
        }
        const auto find = [this](const char* name) {
            return reinterpret_cast<void*>(::GetProcAddress(library, name));
        };
        createAddress = reinterpret_cast<AddressCall>(find("CreateUnicastIpAddressEntry"));
        getAddress = reinterpret_cast<AddressGet>(find("GetUnicastIpAddressEntry"));
        deleteAddress = reinterpret_cast<AddressCall>(find("DeleteUnicastIpAddressEntry"));
        createRoute = reinterpret_cast<RouteCall>(find("CreateIpForwardEntry2"));
        deleteRoute = reinterpret_cast<RouteCall>(find("DeleteIpForwardEntry2"));
    }
    ~IpHelper()
    {
        if (library != nullptr) {
            ::FreeLibrary(library);
        }
    }
    IpHelper(const IpHelper&) = delete;
    IpHelper& operator=(const IpHelper&) = delete;

    const char* missing() const
    {
        if (library == nullptr) {
            return "iphlpapi.dll";
        }
        if (createAddress == nullptr || getAddress == nullptr || deleteAddress == nullptr) {
            return "CreateUnicastIpAddressEntry";
        }
        return createRoute == nullptr || deleteRoute == nullptr ? "CreateIpForwardEntry2" : nullptr;
    }

    HMODULE library = nullptr;
    AddressCall createAddress = nullptr;
    AddressGet getAddress = nullptr;
    AddressCall deleteAddress = nullptr;
    RouteCall createRoute = nullptr;
    RouteCall deleteRoute = nullptr;
};

MIB_UNICASTIPADDRESS_ROW addressRow(unsigned long ifindex, const bootp::Ipv4& ip)
{
    // InitializeUnicastIpAddressEntry's defaults, written out: a manual address that lives
    // until it is removed, in the active store only (nothing outlives a reboot).
    MIB_UNICASTIPADDRESS_ROW row{};
    row.Address.si_family = AF_INET;
    row.Address.Ipv4.sin_family = AF_INET;
    std::memcpy(&row.Address.Ipv4.sin_addr, ip.data(), 4);
    row.InterfaceIndex = ifindex;
    row.PrefixOrigin = IpPrefixOriginManual;
    row.SuffixOrigin = IpSuffixOriginManual;
    row.ValidLifetime = 0xffffffff;
    row.PreferredLifetime = 0xffffffff;
    row.OnLinkPrefixLength = 32;
    row.DadState = IpDadStatePreferred;
    return row;
}

MIB_IPFORWARD_ROW2 routeRow(unsigned long ifindex, const bootp::Ipv4& card)
{
    // InitializeIpForwardEntry's defaults, written out: an on-link host route to the card.
    MIB_IPFORWARD_ROW2 row{};
    row.InterfaceIndex = ifindex;
    row.DestinationPrefix.Prefix.si_family = AF_INET;
    row.DestinationPrefix.Prefix.Ipv4.sin_family = AF_INET;
    std::memcpy(&row.DestinationPrefix.Prefix.Ipv4.sin_addr, card.data(), 4);
    row.DestinationPrefix.PrefixLength = 32;
    row.NextHop.si_family = AF_INET;
    row.NextHop.Ipv4.sin_family = AF_INET;
    row.ValidLifetime = 0xffffffff;
    row.PreferredLifetime = 0xffffffff;
    row.Metric = 0;
    row.Protocol = static_cast<NL_ROUTE_PROTOCOL>(MIB_IPPROTO_NETMGMT);
    row.Origin = NlroManual;
    return row;
}

helper::Answer failed(const char* call, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        return {EPERM, helper::Refusal::None, call};
    }
    return {static_cast<std::int32_t>(error == ERROR_OBJECT_ALREADY_EXISTS ? EEXIST : EIO),
            helper::Refusal::None, std::string(call) + " error " + std::to_string(error)};
}

} // namespace

bool runsElevated()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    ::CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

helper::Answer addTemporaryAddress(const helper::TemporaryRecord& r)
{
    IpHelper ip;
    if (const char* call = ip.missing()) {
        return {ENOSYS, helper::Refusal::None, call};
    }
    const auto ifindex = static_cast<unsigned long>(r.ifindex);
    MIB_UNICASTIPADDRESS_ROW address = addressRow(ifindex, r.address);
    if (const DWORD error = ip.createAddress(&address); error != NO_ERROR) {
        return failed("CreateUnicastIpAddressEntry", error);
    }
    // Windows probes a new address on the wire itself (duplicate address detection): one that
    // another device answers for is marked duplicate, and is taken away again.
    for (int i = 0; i < 30; ++i) {
        MIB_UNICASTIPADDRESS_ROW now = addressRow(ifindex, r.address);
        if (ip.getAddress(&now) != NO_ERROR || now.DadState != IpDadStateTentative) {
            if (now.DadState == IpDadStateDuplicate) {
                ip.deleteAddress(&address);
                return {0, helper::Refusal::InUse, {}};
            }
            break;
        }
        ::Sleep(100);
    }
    const MIB_IPFORWARD_ROW2 route = routeRow(ifindex, r.card);
    if (const DWORD error = ip.createRoute(&route); error != NO_ERROR) {
        ip.deleteAddress(&address);
        return failed("CreateIpForwardEntry2", error);
    }
    return {};
}

void removeTemporaryAddress(unsigned long ifindex, const bootp::Ipv4& address,
                            const bootp::Ipv4& card)
{
    IpHelper ip;
    if (ip.missing() != nullptr) {
        return;
    }
    const MIB_IPFORWARD_ROW2 route = routeRow(ifindex, card);
    ip.deleteRoute(&route);
    const MIB_UNICASTIPADDRESS_ROW row = addressRow(ifindex, address);
    ip.deleteAddress(&row);
}

} // namespace winnet
