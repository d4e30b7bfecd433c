#include "WinNet.h"

#include "PortHolderText.h"

#include "Win32.h"

#include <memory>

namespace winnet {

namespace {

/// The owner's pid of the socket on port in one family's table, 0 when none holds it.
template <typename Table>
Result<std::optional<unsigned long>> owner(ULONG family, std::uint16_t port)
{
    DWORD size = 0;
    std::unique_ptr<std::uint8_t[]> buffer;
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the calls; a few tries settle it.
    for (int attempt = 0; attempt < 4 && error == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer = std::make_unique<std::uint8_t[]>(size + 1024);
        size += 1024;
        error = ::GetExtendedUdpTable(buffer.get(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
    }
    if (error != NO_ERROR) {
        return Failure{"GetExtendedUdpTable", error};
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.get());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        // The port is in network byte order in the low 16 bits.
        if (::ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
            return std::optional<unsigned long>{table->table[i].dwOwningPid};
        }
    }
    return std::optional<unsigned long>{};
}

} // namespace

Result<PortHolder> udpPortHolder(std::uint16_t port)
{
    auto pid = owner<MIB_UDPTABLE_OWNER_PID>(AF_INET, port);
    if (pid && !pid.value()) {
        // A dual-stack socket on [::] holds the IPv4 port too.
        pid = owner<MIB_UDP6TABLE_OWNER_PID>(AF_INET6, port);
    }
    if (!pid) {
        return pid.failure();
    }
    PortHolder holder;
    if (!pid.value()) {
        return holder;
    }
    holder.found = true;
    holder.pid = *pid.value();
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, holder.pid);
    if (process == nullptr) {
        holder.nameError = ::GetLastError();
        return holder;
    }
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (::QueryFullProcessImageNameW(process, 0, path, &length)) {
        const std::wstring_view full(path, length);
        const auto slash = full.find_last_of(L"\\/");
        holder.program = utf8(slash == std::wstring_view::npos ? full : full.substr(slash + 1));
    } else {
        holder.nameError = ::GetLastError();
    }
    ::CloseHandle(process);
    return holder;
}

} // namespace winnet

text::Twin udpPortHolderText(unsigned port)
{
    const winnet::Result<winnet::PortHolder> h =
        winnet::udpPortHolder(static_cast<std::uint16_t>(port));
    PortHolderFacts facts;
    if (!h) {
        facts.unreadable = winnet::describe(h.failure());
    } else {
        // Wine answers pid 0 for a socket whose descriptor only its server holds.
        facts.found = h->found;
        facts.program = h->program;
        facts.pid = h->pid;
    }
    return portHolderText(facts);
}
