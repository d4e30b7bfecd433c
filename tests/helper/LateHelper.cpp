// A stand-in for torvane-helper that answers its first command late: it reports the port
// bound, holds the first command's answer (done, "late") for 500 ms, and refuses every later
// command at once (AlreadyReplied, "on time"), each answer with its command's serial.
#include "Protocol.h"

#include <sys/socket.h>
#include <unistd.h>

using namespace helper;

namespace {

void tell(const FromHelper& m)
{
    const Bytes data = encode(m);
    ::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL);
}

} // namespace

int main()
{
    tell(Bound{});
    for (bool first = true;; first = false) {
        std::uint8_t buffer[kMaxMessage + 1];
        const ssize_t n = ::recv(kLinkFd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return 0; // the front-end closed the link
        }
        const std::uint32_t serial = serialOf(std::span(buffer, static_cast<std::size_t>(n)));
        if (first) {
            ::usleep(500 * 1000);
            tell(Answer{0, Refusal::None, "late", serial});
        } else {
            tell(Answer{0, Refusal::AlreadyReplied, "on time", serial});
        }
    }
}
