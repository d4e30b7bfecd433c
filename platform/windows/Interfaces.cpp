#include "WinNet.h"

#include "InterfaceName.h"

#include "Win32.h"

#include <cstring>
#include <memory>

namespace winnet {

namespace {

struct AdapterAddresses {
    unsigned long ifindex = 0;
    std::vector<InterfaceAddress> addresses;
};

/// Every adapter with its IPv4 addresses. ERROR_NO_DATA is an answer (no IPv4 adapter); every
/// other error is a failure.
Result<std::vector<AdapterAddresses>> adapters()
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                        GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = 16 * 1024;
    std::unique_ptr<std::uint8_t[]> buffer;
    ULONG error = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls; a few tries settle it.
    for (int attempt = 0; attempt < 4 && error == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<std::uint8_t[]>(size);
        error = ::GetAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    std::vector<AdapterAddresses> out;
    if (error == ERROR_NO_DATA) {
        return out;
    }
    if (error != ERROR_SUCCESS) {
        return Failure{"GetAdaptersAddresses", error};
    }
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); a != nullptr;
         a = a->Next) {
        AdapterAddresses adapter;
        adapter.ifindex = a->IfIndex;
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const SOCKADDR* sa = u->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET ||
                u->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in))) {
                continue;
            }
            InterfaceAddress address;
            std::memcpy(address.ip.data(), &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, 4);
            address.prefix = u->OnLinkPrefixLength <= 32 ? u->OnLinkPrefixLength : 32;
            adapter.addresses.push_back(address);
        }
        out.push_back(std::move(adapter));
    }
    return out;
}

} // namespace

Result<std::vector<InterfaceAddress>> interfaceAddresses(unsigned long ifindex)
{
    auto all = adapters();
    if (!all) {
        return all.failure();
    }
    for (auto& adapter : all.value()) {
        if (adapter.ifindex == ifindex) {
            return std::move(adapter.addresses);
        }
    }
    return Failure{"GetAdaptersAddresses", ERROR_NOT_FOUND};
}

Result<bootp::HostFacts> hostFacts()
{
    auto all = adapters();
    if (!all) {
        return all.failure();
    }
    bootp::HostFacts facts;
    for (const auto& adapter : all.value()) {
        for (const auto& address : adapter.addresses) {
            facts.addresses.push_back(
                {address.ip, address.prefix, static_cast<int>(adapter.ifindex)});
        }
    }
    MIB_IPFORWARD_TABLE2* routes = nullptr;
    if (const DWORD error = ::GetIpForwardTable2(AF_INET, &routes); error != NO_ERROR) {
        if (error != ERROR_NOT_FOUND) {
            return Failure{"GetIpForwardTable2", error};
        }
        return facts; // no IPv4 route at all
    }
    for (ULONG i = 0; i < routes->NumEntries; ++i) {
        const SOCKADDR_INET& hop = routes->Table[i].NextHop;
        if (hop.si_family == AF_INET && hop.Ipv4.sin_addr.s_addr != 0) {
            bootp::Ipv4 gateway;
            std::memcpy(gateway.data(), &hop.Ipv4.sin_addr, 4);
            facts.gateways.push_back(gateway);
        }
    }
    ::FreeMibTable(routes);
    return facts;
}

} // namespace winnet

std::string interfaceName(unsigned index)
{
    NET_LUID luid{};
    wchar_t alias[NDIS_IF_MAX_STRING_SIZE + 1] = {};
    if (::ConvertInterfaceIndexToLuid(index, &luid) == NO_ERROR &&
        ::ConvertInterfaceLuidToAlias(&luid, alias, NDIS_IF_MAX_STRING_SIZE + 1) == NO_ERROR &&
        alias[0] != L'\0') {
        return winnet::utf8(alias);
    }
    return "interface " + std::to_string(index);
}
