#pragma once

// The Windows headers in the order Winsock needs them, for the implementation files only.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>
// clang-format on

#include <string>
#include <string_view>

namespace winnet {

/// UTF-16 from Windows to UTF-8.
std::string utf8(std::wstring_view text);
/// UTF-8 to UTF-16 for Windows (paths, names).
std::wstring wide(std::string_view text);

} // namespace winnet
