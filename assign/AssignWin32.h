#pragma once

#include "Win32.h"
#include "WinNet.h"

// What the Windows files of torvane-assign share: Winsock started once, and the mapping of
// Windows's error codes onto the errno values the interfaces report.
namespace assign::win {

/// WSAStartup's error, 0 once Winsock is ready; started on first use for the process's life.
int winsockError();

/// The errno closest to a Win32 or Winsock error code (winnet::errnoOf). Remembers failure for
/// errorText, so that stderr can name the Windows code.
int errnoOf(const winnet::Failure& failure);
/// Remembers failure for errorText as the cause of error, which it returns.
int remember(const winnet::Failure& failure, int error);

} // namespace assign::win
