// torvane-helper: the one program of Torvane that holds privileges. A front-end (the windows,
// torvane-assign) starts it for one search with its end of a socketpair on descriptor 3.
// After dhcpcd's privilege separation it is two processes, and this file only sets them up:
// - the listener (Listener.cpp) binds UDP port 67 and opens a packet socket for card requests
//   (below the host firewall), then gives up every capability; it reads datagrams and the
//   front-end's messages, passes card requests on, and sends a reply only after checking it
//   against the request it passed on;
// - the writer (Writer.cpp), forked before anything untrusted is read, holds cap_net_admin
//   alone; it takes fixed-size records from the listener, checks them again against the
//   kernel and writes the neighbour entry so that it never replaces another MAC's, or adds a
//   temporary address after an ARP probe on the packet socket it opened at its start.
// Both open every socket before a system-call filter that lets them open none. They end when
// the link closes.
#include "Listener.h"
#include "SystemCalls.h"
#include "Writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace helper;

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "torvane-helper: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

/// Descriptor 3 must be a SOCK_SEQPACKET unix socket: the link to the front-end.
bool linkIsSocketpair()
{
    int type = 0;
    int domain = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(kLinkFd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        return false;
    }
    size = sizeof domain;
    return ::getsockopt(kLinkFd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX &&
           type == SOCK_SEQPACKET;
}

/// The writer keeps cap_net_admin alone and opens its one socket before its filter.
[[noreturn]] void runWriter(int link)
{
    // The probe socket for temporary addresses is opened while cap_net_raw is still held;
    // one that cannot be opened only makes every temporary address fail.
    const int probe = openProbeSocket();
    if (!setCapabilities(kCapNetAdmin, kCapNetAdmin)) {
        fail("capset (writer)");
    }
    RouteLink route;
    if (route.error() != 0) {
        errno = route.error();
        fail("rtnetlink (writer)");
    }
    // Without the watch each entry's check reads the kernel's addresses and routes afresh.
    route.watchHost();
    if (!installSystemCallFilter(systemCallFilter(writerCalls()))) {
        fail("seccomp (writer)");
    }
    // Ready: the listener answers its front-end only once the writer is in this state.
    const EntryResult ready{};
    if (::send(link, &ready, sizeof ready, MSG_NOSIGNAL) != sizeof ready) {
        std::exit(0);
    }
    serveWriter(link, route, probe);
}

/// Starts the writer on its own socketpair; returns the listener's end.
int startWriter()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        fail("socketpair");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        // The writer keeps nothing of the listener's: not the front-end's link, no socket.
        if (::dup2(pair[1], kLinkFd) < 0 || ::close_range(kLinkFd + 1, ~0U, 0) != 0) {
            fail("writer descriptors");
        }
        runWriter(kLinkFd);
    }
    ::close(pair[1]);
    return pair[0];
}

} // namespace

int main(int argc, char**)
{
    // Nothing is taken from the caller but the link: no arguments, no environment, no other
    // descriptor; standard input and output become /dev/null.
    ::clearenv();
    if (argc != 1 || !linkIsSocketpair()) {
        std::fputs("torvane-helper: started by torvane and torvane-assign only\n", stderr);
        return 2;
    }
    if (::close_range(kLinkFd + 1, ~0U, 0) != 0) {
        fail("close_range");
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0) {
        fail("/dev/null");
    }
    ::close(null);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        fail("prctl");
    }

    const int writer = startWriter();
    // Every socket the listener will use is opened now: after the filter below none can be.
    RouteLink route;
    route.watchHost(); // without it every check reads the kernel's addresses and routes afresh
    const int udp = bindServerPort();
    const int packets = udp < 0 ? udp : openCardPacketSocket();
    Bound bound{udp < 0 ? -udp : packets < 0 ? -packets : route.error()};
    // Port 67 is bound or refused: the listener gives up every capability, whatever the
    // outcome. Only the writer holds cap_net_admin.
    if (!setCapabilities(0, 0)) {
        fail("capset");
    }
    const int senders[] = {kLinkFd, writer, route.descriptor()};
    if (!installSystemCallFilter(systemCallFilter(listenerCalls(senders, udp)))) {
        fail("seccomp");
    }
    // The search starts only with a writer that has given up all but cap_net_admin and is
    // under its filter; one that failed to get there has ended, and so does the search.
    EntryResult ready;
    if (bound.error == 0 && ::recv(writer, &ready, sizeof ready, 0) != sizeof ready) {
        bound.error = EPIPE;
    }
    tell(bound);
    if (bound.error != 0) {
        return 1;
    }
    return serveListener(udp, packets, writer, route);
}
