// A stand-in for torvane-helper that plays a script instead of a network: it passes on the
// card requests the script names and answers each command as the script says, so that
// torvane-assign's reaction to every kind of answer can be tested without privileges and
// without sending anything. HelperLink starts it with no arguments and no environment, so
// the script lies beside the executable: PROGRAM.script; what it was sent goes to PROGRAM.log.
//
// Script lines (after the Listen command, which is always answered 0):
//   request ID MAC        pass on a card request with xid ID from MAC (ifindex 1)
//   reply ID CODE         wait for the reply to request ID and answer CODE (0, an errno, or
//                         minus a refusal's number)
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
#include <variant>

namespace {

std::string self()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

void send(const helper::FromHelper& m)
{
    const helper::Bytes data = helper::encode(m);
    ::send(helper::kLinkFd, data.data(), data.size(), MSG_NOSIGNAL);
}

/// The serial of the command being answered, which its answer repeats.
std::uint32_t g_serial = 0;

/// code: 0 done, > 0 an errno, < 0 the refusal numbered -code.
void answer(std::int32_t code)
{
    helper::Answer a;
    a.serial = g_serial;
    if (code < 0) {
        a.refusal = static_cast<helper::Refusal>(-code);
    } else {
        a.error = code;
    }
    send(a);
}

helper::ToHelper receive()
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
        const std::span<const std::uint8_t> in(buffer, static_cast<std::size_t>(n));
        g_serial = helper::serialOf(in);
        if (auto c = helper::decodeCommand(in)) {
            return c->message;
        }
        answer(-static_cast<std::int32_t>(helper::Refusal::Malformed));
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
    send(helper::Bound{});
    // Every command is logged and answered; the script decides the code of the one it waits
    // for ("reply" or "neighbour" with its id).
    auto handle = [&log](const helper::ToHelper& m, const std::string& waitVerb,
                         std::uint32_t waitId, std::int32_t code) {
        bool waited = false;
        if (const auto* r = std::get_if<helper::Reply>(&m)) {
            waited = waitVerb == "reply" && r->id == waitId;
            log << "reply " << r->id << " " << ipText(r->datagram, bootp::kYiaddr) << " "
                << (waited ? code : 0) << "\n";
        } else if (const auto* n = std::get_if<helper::Neighbour>(&m)) {
            waited = waitVerb == "neighbour" && n->id == waitId;
            log << "neighbour " << n->id << " " << (waited ? code : 0) << "\n";
        }
        log.flush();
        answer(waited ? code : 0);
        return waited;
    };
    // Listen first.
    while (!std::holds_alternative<helper::Listen>(receive())) {
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
            helper::Request r;
            r.id = id;
            r.ifindex = 1;
            r.datagram = testing_support::cardRequest(300, mac);
            r.datagram[4] = static_cast<std::uint8_t>(id); // xid
            send(r);
        } else if (verb == "reply" || verb == "neighbour") {
            std::int32_t code = 0;
            words >> code;
            while (!handle(receive(), verb, id, code)) {
            }
        }
    }
    for (;;) {
        handle(receive(), "", 0, 0);
    }
}
