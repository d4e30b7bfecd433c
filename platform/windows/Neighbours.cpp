#include "NeighbourWrite.h"

#include "Win32.h"

#include <cstring>

namespace winnet {

namespace {

using WriteEntry = DWORD(WINAPI*)(const MIB_IPNET_ROW2*);

/// The IP Helper's neighbour table. The write calls are looked up at run time: Wine 8 has
/// none of CreateIpNetEntry2, SetIpNetEntry2 and DeleteIpNetEntry2, and a program that imported
/// them would not even start there.
class IpHelperNeighbours final : public NeighbourSystem {
public:
    IpHelperNeighbours()
    {
        m_library = ::LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (m_library != nullptr) {
            m_create = reinterpret_cast<WriteEntry>(
                reinterpret_cast<void*>(::GetProcAddress(m_library, "CreateIpNetEntry2")));
            m_set = reinterpret_cast<WriteEntry>(
                reinterpret_cast<void*>(::GetProcAddress(m_library, "SetIpNetEntry2")));
            m_delete = reinterpret_cast<WriteEntry>(
                reinterpret_cast<void*>(::GetProcAddress(m_library, "DeleteIpNetEntry2")));
        }
    }
    ~IpHelperNeighbours() override
    {
        if (m_library != nullptr) {
            ::FreeLibrary(m_library);
        }
    }
    IpHelperNeighbours(const IpHelperNeighbours&) = delete;
    IpHelperNeighbours& operator=(const IpHelperNeighbours&) = delete;

    const char* missingCall() override
    {
        if (m_library == nullptr) {
            return "iphlpapi.dll";
        }
        if (m_create == nullptr) {
            return "CreateIpNetEntry2";
        }
        if (m_set == nullptr) {
            return "SetIpNetEntry2";
        }
        return m_delete == nullptr ? "DeleteIpNetEntry2" : nullptr;
    }

    Result<NeighbourEntry> entry(unsigned long ifindex, const bootp::Ipv4& ip) override
    {
        // An interface that is gone is an error, not an interface without entries.
        NET_LUID luid;
        if (const DWORD error = ::ConvertInterfaceIndexToLuid(ifindex, &luid); error != NO_ERROR) {
            return Failure{"ConvertInterfaceIndexToLuid", error};
        }
        MIB_IPNET_TABLE2* table = nullptr;
        const DWORD error = ::GetIpNetTable2(AF_INET, &table);
        if (error == ERROR_NOT_FOUND) {
            return NeighbourEntry{}; // the table holds no IPv4 entry at all
        }
        if (error != NO_ERROR) {
            return Failure{"GetIpNetTable2", error};
        }
        NeighbourEntry out;
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IPNET_ROW2& row = table->Table[i];
            if (row.InterfaceIndex != ifindex || row.Address.si_family != AF_INET ||
                std::memcmp(&row.Address.Ipv4.sin_addr, ip.data(), 4) != 0) {
                continue;
            }
            out.present = true;
            // An entry still resolving, or one that failed to, holds no MAC worth keeping.
            out.hasMac = row.PhysicalAddressLength == out.mac.size() &&
                         row.State != NlnsIncomplete && row.State != NlnsUnreachable;
            if (row.PhysicalAddressLength == out.mac.size()) {
                std::memcpy(out.mac.data(), row.PhysicalAddress, out.mac.size());
            }
            out.permanent = row.State == NlnsPermanent;
        }
        ::FreeMibTable(table);
        return out;
    }

    Result<Done> create(unsigned long ifindex, const bootp::Ipv4& ip,
                        const bootp::Mac& mac) override
    {
        return write(m_create, "CreateIpNetEntry2", ifindex, ip, mac);
    }

    Result<Done> makePermanent(unsigned long ifindex, const bootp::Ipv4& ip,
                               const bootp::Mac& mac) override
    {
        return write(m_set, "SetIpNetEntry2", ifindex, ip, mac);
    }

    Result<Done> remove(unsigned long ifindex, const bootp::Ipv4& ip) override
    {
        return write(m_delete, "DeleteIpNetEntry2", ifindex, ip, {});
    }

private:
    static Result<Done> write(WriteEntry call, const char* name, unsigned long ifindex,
                              const bootp::Ipv4& ip, const bootp::Mac& mac)
    {
        MIB_IPNET_ROW2 row{};
        row.Address.si_family = AF_INET;
        row.Address.Ipv4.sin_family = AF_INET;
        std::memcpy(&row.Address.Ipv4.sin_addr, ip.data(), 4);
        row.InterfaceIndex = ifindex;
        std::memcpy(row.PhysicalAddress, mac.data(), mac.size());
        row.PhysicalAddressLength = mac.size();
        row.State = NlnsPermanent;
        if (const DWORD error = call(&row); error != NO_ERROR) {
            return Failure{name, error};
        }
        return Done{};
    }

    HMODULE m_library = nullptr;
    WriteEntry m_create = nullptr;
    WriteEntry m_set = nullptr;
    WriteEntry m_delete = nullptr;
};

} // namespace

helper::Answer addPermanentNeighbour(unsigned long ifindex, const bootp::Ipv4& ip,
                                     const bootp::Mac& mac)
{
    IpHelperNeighbours system;
    return addPermanentNeighbour(system, ifindex, ip, mac);
}

} // namespace winnet
