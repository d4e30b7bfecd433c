#include "Signals.h"

#include "SimLink.h"

#include <algorithm>
#include <cerrno>

namespace cardsim {

volatile sig_atomic_t g_signal = 0;

namespace {

sigset_t g_waitMask;

void onSignal(int signal)
{
    g_signal = signal;
}

} // namespace

void installSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &g_waitMask);
    sigdelset(&g_waitMask, SIGINT);
    sigdelset(&g_waitMask, SIGTERM);
}

const sigset_t* waitMask()
{
    return &g_waitMask;
}

bool waitFor(std::span<pollfd> fds, Clock::time_point until)
{
    const auto left = std::max(until - Clock::now(), Clock::duration::zero());
    // An hour at most: callers loop, and no time_t can overflow.
    const auto ns = std::min<long long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(), 3600LL * 1'000'000'000);
    const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                           static_cast<long>(ns % 1'000'000'000)};
    const int n = ::ppoll(fds.data(), fds.size(), &timeout, &g_waitMask);
    if (n < 0 && errno != EINTR) {
        throw SysError("ppoll", errno);
    }
    return n > 0;
}

bool waitReadable(int fd, Clock::time_point until)
{
    pollfd p{fd, POLLIN, 0};
    return waitFor(std::span<pollfd>(&p, fd < 0 ? 0 : 1), until);
}

} // namespace cardsim
