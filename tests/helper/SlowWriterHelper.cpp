// A stand-in for torvane-helper whose writer is slow: it answers each reply at once but holds
// every entry's answer until it has read the replies of 128 cards, then answers the held
// entries and every later one at once. Every answer is a success, named after its command
// ("reply 3", "entry 3").
#include "Protocol.h"

#include <string>
#include <sys/socket.h>
#include <variant>
#include <vector>

using namespace helper;

namespace {

constexpr int kRepliesBeforeEntries = 128;

void tell(const FromHelper& m)
{
    const Bytes data = encode(m);
    ::send(kLinkFd, data.data(), data.size(), MSG_NOSIGNAL);
}

} // namespace

int main()
{
    tell(Bound{});
    int replies = 0;
    std::vector<Answer> held;
    for (;;) {
        std::uint8_t buffer[kMaxMessage + 1];
        const ssize_t n = ::recv(kLinkFd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return 0; // the front-end closed the link
        }
        const std::span<const std::uint8_t> in(buffer, static_cast<std::size_t>(n));
        const std::optional<Command> c = decodeCommand(in);
        Answer a{0, Refusal::None, "other", serialOf(in)};
        if (!c) {
            a.refusal = Refusal::Malformed;
        } else if (const auto* reply = std::get_if<Reply>(&c->message)) {
            a.reason = "reply " + std::to_string(reply->id);
            ++replies;
        } else if (const auto* entry = std::get_if<Neighbour>(&c->message)) {
            a.reason = "entry " + std::to_string(entry->id);
            if (replies < kRepliesBeforeEntries) {
                held.push_back(a);
                continue;
            }
        }
        tell(a);
        if (replies >= kRepliesBeforeEntries) {
            for (const Answer& h : held) {
                tell(h);
            }
            held.clear();
        }
    }
}
