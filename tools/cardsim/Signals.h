#pragma once

#include <poll.h>
#include <signal.h>

#include <chrono>
#include <span>

// SIGINT and SIGTERM end the simulator's waits. They stay blocked and are only let in while
// waiting in ppoll, so a signal can never slip in between the check of g_signal and the wait.
namespace cardsim {

using Clock = std::chrono::steady_clock;

/// The signal that arrived, 0 while none has.
extern volatile sig_atomic_t g_signal;

void installSignals();

/// The signal mask to wait with (SIGINT and SIGTERM let in).
const sigset_t* waitMask();

/// Waits until one of `fds` has an event or `until`; false on timeout or signal.
bool waitFor(std::span<pollfd> fds, Clock::time_point until);

/// Waits until `fd` is readable (fd < 0: just waits) or `until`; false on timeout or signal.
bool waitReadable(int fd, Clock::time_point until);

} // namespace cardsim
