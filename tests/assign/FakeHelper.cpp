// A stand-in for torvane-helper that plays a script instead of a network: it passes on the
// card requests the script names and answers each command as the script says, so that
// torvane-assign's reaction to every kind of answer can be tested without privileges and
// without sending anything. HelperLink starts it with no arguments and no environment, so
// the script lies beside the executable: PROGRAM.script; what it was sent goes to PROGRAM.log.
//
// Script lines (after the Listen command, which is always answered 0):
//   request ID MAC        pass on a card request with xid ID from MAC (ifindex 1)
//   reply ID CODE         wait for the reply to request ID and answer CODE (0, errno, or a
//                         negative refusal)
//   neighbour ID CODE     the same for the neighbour entry
// Anything after the script is answered 0; the fake ends when the link closes.
#include "CardRequest.h"
#include "Protocol.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string self()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

void send(const helper::Message& m)
{
    const helper::Bytes data = helper::encode(m);
    ::send(helper::kLinkFd, data.data(), data.size(), MSG_NOSIGNAL);
}

void answer(std::int32_t code)
{
    helper::Message a(helper::Tag::Answer);
    a.number = code;
    a.text = code < 0 ? helper::refusalText(static_cast<helper::Refusal>(code)) : "";
    send(a);
}

helper::Message receive()
{
    for (;;) {
        std::uint8_t buffer[helper::kMaxMessage + 1];
        ssize_t n;
        do {
            n = ::recv(helper::kLinkFd, buffer, sizeof buffer, 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            std::exit(0); // the front-end closed the link
        }
        if (auto m = helper::decode(std::span(buffer, static_cast<std::size_t>(n)))) {
            return *m;
        }
        answer(static_cast<std::int32_t>(helper::Refusal::Malformed));
    }
}

std::string ipText(const helper::Bytes& reply, std::size_t at)
{
    return std::to_string(reply[at]) + "." + std::to_string(reply[at + 1]) + "." +
           std::to_string(reply[at + 2]) + "." + std::to_string(reply[at + 3]);
}

} // namespace

int main()
{
    const std::string me = self();
    std::ifstream script(me + ".script");
    std::ofstream log(me + ".log", std::ios::app);
    helper::Message bound(helper::Tag::Bound);
    send(bound);
    // Every command is logged and answered; the script decides the code of the one it waits for.
    auto handle = [&log](const helper::Message& m, helper::Tag waitTag, std::uint32_t waitId,
                         std::int32_t code) {
        const bool waited = m.tag == waitTag && m.id == waitId;
        if (m.tag == helper::Tag::Reply) {
            log << "reply " << m.id << " " << ipText(m.bytes, bootp::kYiaddr) << " "
                << (waited ? code : 0) << "\n";
        } else if (m.tag == helper::Tag::Neighbour) {
            log << "neighbour " << m.id << " " << (waited ? code : 0) << "\n";
        }
        log.flush();
        answer(waited ? code : 0);
        return waited;
    };
    // Listen first.
    while (receive().tag != helper::Tag::Listen) {
        answer(0);
    }
    answer(0);
    std::string line;
    while (std::getline(script, line)) {
        std::istringstream words(line);
        std::string verb;
        std::uint32_t id = 0;
        words >> verb >> id;
        if (verb == "request") {
            std::string macText;
            words >> macText;
            std::array<std::uint8_t, 6> mac{};
            unsigned b[6] = {};
            std::sscanf(macText.c_str(), "%x-%x-%x-%x-%x-%x", &b[0], &b[1], &b[2], &b[3], &b[4],
                        &b[5]);
            for (int i = 0; i < 6; ++i) {
                mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
            }
            helper::Message r(helper::Tag::Request);
            r.id = id;
            r.number = 1;
            r.bytes = testing_support::cardRequest(300, mac);
            r.bytes[4] = static_cast<std::uint8_t>(id); // xid
            send(r);
        } else if (verb == "reply" || verb == "neighbour") {
            std::int32_t code = 0;
            words >> code;
            const helper::Tag tag = verb == "reply" ? helper::Tag::Reply : helper::Tag::Neighbour;
            while (!handle(receive(), tag, id, code)) {
            }
        }
    }
    for (;;) {
        handle(receive(), helper::Tag::Answer, 0, 0);
    }
}
