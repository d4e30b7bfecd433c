// A stand-in for torvane-helper that answers its first command late: it reports the port
// bound and holds the first command's answer (done, "late") for 500 ms. Later commands are
// answered at once, those queued together in reverse order, each with its command's serial:
// a reply to an odd request id is refused (AlreadyReplied), an even one's goes out, and an
// entry is refused (OtherMac); the reason names the command ("reply 3", "entry 4").
#include "Protocol.h"

#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>
#include <vector>

using namespace helper;

namespace {

void tell(const FromHelper& m)
{
    const Bytes data = encode(m);
    ::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL);
}

Answer answerTo(std::span<const std::uint8_t> in)
{
    Answer a{0, Refusal::Malformed, "malformed", serialOf(in)};
    const std::optional<Command> c = decodeCommand(in);
    if (!c) {
        return a;
    }
    if (const auto* reply = std::get_if<Reply>(&c->message)) {
        a.refusal = reply->id % 2 == 1 ? Refusal::AlreadyReplied : Refusal::None;
        a.reason = "reply " + std::to_string(reply->id);
    } else if (const auto* entry = std::get_if<Neighbour>(&c->message)) {
        a.refusal = Refusal::OtherMac;
        a.reason = "entry " + std::to_string(entry->id);
    } else {
        a.refusal = Refusal::None;
        a.reason = "on time";
    }
    return a;
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
        const std::span<const std::uint8_t> in(buffer, static_cast<std::size_t>(n));
        if (first) {
            ::usleep(500 * 1000);
            tell(Answer{0, Refusal::None, "late", serialOf(in)});
            continue;
        }
        // Whatever else the front-end queued meanwhile is answered last first.
        ::usleep(50 * 1000);
        std::vector<Answer> answers{answerTo(in)};
        for (;;) {
            const ssize_t more = ::recv(kLinkFd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (more <= 0) {
                break;
            }
            answers.push_back(answerTo(std::span(buffer, static_cast<std::size_t>(more))));
        }
        for (auto a = answers.rbegin(); a != answers.rend(); ++a) {
            tell(*a);
        }
    }
}
