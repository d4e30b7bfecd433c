#include "Network.h"

#include "AssignWin32.h"
#include "CardPort.h"
#include "WinSeams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace assign {

namespace win {

namespace {

struct LastFailure {
    winnet::Failure failure;
    int error = 0;
};

thread_local LastFailure t_last;

} // namespace

int winsockError()
{
    static const winnet::Winsock winsock;
    return winsock.error();
}

int errnoOf(const winnet::Failure& failure)
{
    return remember(failure, winnet::errnoOf(failure.code));
}

int remember(const winnet::Failure& failure, int error)
{
    t_last = {failure, error};
    return error;
}

} // namespace win

namespace {

/// One interface's entry of the interface table: ERROR_FILE_NOT_FOUND when there is no such
/// interface.
winnet::Result<MIB_IF_ROW2> interfaceRow(unsigned index)
{
    MIB_IF_ROW2 row{};
    row.InterfaceIndex = index;
    if (const DWORD error = ::GetIfEntry2(&row); error != NO_ERROR) {
        return winnet::Failure{"GetIfEntry2", error};
    }
    return row;
}

/// Whether interface index exists; ENODEV when it does not, another errno when the system could
/// not say.
int interfaceMissing(unsigned index)
{
    const winnet::Result<MIB_IF_ROW2> row = interfaceRow(index);
    if (row) {
        return 0;
    }
    if (row.failure().code == ERROR_FILE_NOT_FOUND || row.failure().code == ERROR_NOT_FOUND) {
        return win::remember(row.failure(), ENODEV);
    }
    return win::errnoOf(row.failure());
}

std::uint16_t nudState(NL_NEIGHBOR_STATE state)
{
    switch (state) {
    case NlnsUnreachable:
        return nud::Failed;
    case NlnsIncomplete:
        return nud::Incomplete;
    case NlnsProbe:
        return nud::Probe;
    case NlnsDelay:
        return nud::Delay;
    case NlnsStale:
        return nud::Stale;
    case NlnsReachable:
        return nud::Reachable;
    case NlnsPermanent:
        return nud::Permanent;
    default:
        return 0;
    }
}

bool sameText(const std::wstring& a, const wchar_t* b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

InterfaceState interfaceState(const std::string& name)
{
    InterfaceState s;
    if (name.empty()) {
        return s;
    }
    MIB_IF_TABLE2* table = nullptr;
    if (const DWORD error = ::GetIfTable2(&table); error != NO_ERROR) {
        s.error = win::errnoOf({"GetIfTable2", error});
        return s;
    }
    // The alias as Windows shows it ("Ethernet"), either case; else the index as a number.
    const std::wstring alias = winnet::wide(name);
    const bool number =
        name.size() <= 9 && name.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long index = number ? std::stoul(name) : 0;
    const MIB_IF_ROW2* found = nullptr;
    for (ULONG i = 0; i < table->NumEntries && found == nullptr; ++i) {
        if (sameText(alias, table->Table[i].Alias)) {
            found = &table->Table[i];
        }
    }
    for (ULONG i = 0; i < table->NumEntries && found == nullptr && number; ++i) {
        if (table->Table[i].InterfaceIndex == index) {
            found = &table->Table[i];
        }
    }
    if (found != nullptr) {
        s.index = found->InterfaceIndex;
        s.up = found->OperStatus == IfOperStatusUp;
    }
    ::FreeMibTable(table);
    return s;
}

netlink::Result<std::vector<LocalAddress>> readLocalAddresses()
{
    const winnet::Result<bootp::HostFacts> facts = winnet::hostFacts();
    if (!facts) {
        return netlink::Failure{win::errnoOf(facts.failure())};
    }
    std::vector<LocalAddress> out;
    for (const bootp::HostFacts::Address& a : facts->addresses) {
        out.push_back(
            {static_cast<unsigned>(a.ifindex), bootp::toValue(a.ip), bootp::prefixMask(a.prefix)});
    }
    return out;
}

netlink::Result<std::optional<Neighbour>> readNeighbourEntry(unsigned index, Ip ip)
{
    // The whole table, as on Linux: GetIpNetEntry2 would ask for the one entry, but Wine lacks
    // it, and a program that imports it does not even start there.
    MIB_IPNET_TABLE2* table = nullptr;
    const DWORD error = ::GetIpNetTable2(AF_INET, &table);
    if (error != NO_ERROR && error != ERROR_NOT_FOUND) {
        return netlink::Failure{win::errnoOf({"GetIpNetTable2", error})};
    }
    std::optional<Neighbour> entry;
    const ULONG count = error == NO_ERROR ? table->NumEntries : 0;
    for (ULONG i = 0; i < count && !entry; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.InterfaceIndex != index || row.Address.si_family != AF_INET ||
            ::ntohl(row.Address.Ipv4.sin_addr.s_addr) != ip) {
            continue;
        }
        Neighbour n;
        n.state = nudState(row.State);
        if (row.PhysicalAddressLength == 6) {
            Mac mac;
            std::memcpy(mac.data(), row.PhysicalAddress, 6);
            n.mac = mac;
        }
        entry = n;
    }
    if (table != nullptr) {
        ::FreeMibTable(table);
    }
    if (entry) {
        return entry;
    }
    // No entry on an interface that is gone is not "no entry".
    if (const int missing = interfaceMissing(index); missing != 0) {
        return netlink::Failure{missing};
    }
    return std::optional<Neighbour>();
}

bool nudge(unsigned index, Ip ip)
{
    if (const int error = win::winsockError(); error != 0) {
        errno = win::errnoOf({"WSAStartup", static_cast<unsigned long>(error)});
        return false;
    }
    const SOCKET s =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        errno = win::errnoOf({"WSASocketW", static_cast<unsigned long>(::WSAGetLastError())});
        return false;
    }
    // Out of the arrival interface whatever the routing table says; IPv4 takes the index in
    // network byte order. Where it is refused, routing picks, as on Linux.
    const DWORD ifindex = ::htonl(index);
    ::setsockopt(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&ifindex),
                 sizeof ifindex);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(9);
    to.sin_addr.s_addr = ::htonl(ip);
    const bool sent = ::sendto(s, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    if (!sent) {
        errno = win::errnoOf({"sendto", static_cast<unsigned long>(::WSAGetLastError())});
    }
    ::closesocket(s);
    return sent;
}

std::string errorText(int error)
{
    std::string text = std::strerror(error);
    if (win::t_last.error == error && win::t_last.failure.code != 0) {
        text += " (" + winnet::describe(win::t_last.failure) + ")";
    }
    return text;
}

} // namespace assign
