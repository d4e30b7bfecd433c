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

#include "Utf16.h"
