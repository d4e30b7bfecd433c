// A console stand-in for the Windows server side of one card: binds UDP port 67, takes one card
// request that CardPort would pass on (skipping, and naming, the others), answers it out of the
// interface it came in on, writes the neighbour entry, and prints each step as "event=NAME
// key=value ..." for netns_test.sh.
//   win_card_probe IP MASK GATEWAY TIMEOUT_SECONDS
#include "Card.h"
#include "Policy.h"
#include "Rules.h"
#include "WinNet.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <process.h>
#include <string>

namespace {

void print(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string failureText(const winnet::Failure& f)
{
    std::string text = winnet::describe(f);
    for (char& c : text) {
        if (c == ' ') {
            c = '_';
        }
    }
    return std::string("call=") + f.call + " code=" + std::to_string(f.code) + " text=" + text;
}

int fail(const char* step, const winnet::Failure& f)
{
    print(std::string("event=error step=") + step + " " + failureText(f));
    return 3;
}

/// The answer of the neighbour step in the probe's words: a missing call names it.
std::string neighbourText(const helper::Answer& a)
{
    if (a.ok()) {
        return "outcome=written";
    }
    if (a.refused()) {
        return "outcome=refused refusal=" + std::to_string(static_cast<int>(a.refusal));
    }
    std::string reason = a.reason;
    for (char& c : reason) {
        if (c == ' ') {
            c = '_';
        }
    }
    return std::string(a.error == ENOSYS ? "outcome=unsupported call=" : "outcome=failed reason=") +
           reason + " errno=" + std::to_string(a.error);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fputs("usage: win_card_probe IP MASK GATEWAY TIMEOUT_SECONDS\n", stderr);
        return 2;
    }
    const auto ip = bootp::parseIp(argv[1]);
    const auto mask = bootp::parseIp(argv[2]);
    const auto gateway = bootp::parseIp(argv[3]);
    const int timeout = std::atoi(argv[4]);
    if (!ip || !mask || !gateway || timeout <= 0) {
        std::fputs("win_card_probe: bad arguments\n", stderr);
        return 2;
    }
    if (bootp::checkSettings(*ip, *mask, *gateway)) {
        std::fputs("win_card_probe: the settings break the card rules\n", stderr);
        return 2;
    }

    winnet::Winsock winsock;
    if (winsock.error() != 0) {
        return fail("WSAStartup", {"WSAStartup", static_cast<unsigned long>(winsock.error())});
    }
    auto socket = winnet::UdpServerSocket::open(67);
    if (!socket) {
        return fail("open", socket.failure());
    }
    print("event=listening port=" + std::to_string(socket->localPort()));

    auto holder = winnet::udpPortHolder(67);
    if (!holder) {
        return fail("holder", holder.failure());
    }
    print("event=holder found=" + std::to_string(holder->found) +
          " pid=" + std::to_string(holder->pid) + " self=" + std::to_string(::_getpid()) +
          " program=" + holder->program + " name_error=" + std::to_string(holder->nameError));

    // The first card request; anything else on the port is passed over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    winnet::Datagram request;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            print("event=timeout");
            return 4;
        }
        auto readable = socket->waitReadable(static_cast<int>(left));
        if (!readable) {
            return fail("wait", readable.failure());
        }
        if (!readable.value()) {
            continue;
        }
        auto got = socket->receive();
        if (!got) {
            return fail("receive", got.failure());
        }
        if (!got.value() || got.value()->truncated || !bootp::isCardRequest(got.value()->bytes)) {
            continue;
        }
        // What CardPort passes on: the card's own datagram, from 0.0.0.0 to 255.255.255.255.
        const winnet::Datagram& d = *got.value();
        helper::Arrival arrival;
        arrival.ifindex = static_cast<int>(d.ifindex);
        arrival.source = d.source;
        arrival.destination = d.destination;
        arrival.sourcePort = d.sourcePort;
        if (!helper::passOn(d.bytes, arrival)) {
            print("event=skipped mac=" + bootp::macText(bootp::requestMac(d.bytes)) + " source=" +
                  bootp::ipText(d.source) + " destination=" + bootp::ipText(d.destination));
            continue;
        }
        request = std::move(*got.value());
        break;
    }
    const bootp::Mac mac = bootp::requestMac(request.bytes);
    print("event=request ifindex=" + std::to_string(request.ifindex) +
          " mac=" + bootp::macText(mac) + " source=" + bootp::ipText(request.source) + ":" +
          std::to_string(request.sourcePort) + " destination=" +
          bootp::ipText(request.destination) + " length=" + std::to_string(request.bytes.size()));

    auto addresses = winnet::interfaceAddresses(request.ifindex);
    if (!addresses) {
        return fail("addresses", addresses.failure());
    }
    std::string list;
    for (const auto& a : addresses.value()) {
        list += (list.empty() ? "" : ",") + bootp::ipText(a.ip) + "/" + std::to_string(a.prefix);
    }
    print("event=interface ifindex=" + std::to_string(request.ifindex) + " addresses=" + list);

    auto host = winnet::hostFacts();
    if (!host) {
        return fail("host", host.failure());
    }
    if (bootp::clashWithHost(*ip, *host)) {
        print("event=refused reason=host");
        return 5;
    }
    const bootp::Ipv4 server = addresses->empty() ? bootp::Ipv4{} : addresses->front().ip;
    const auto reply = bootp::buildReply(request.bytes, {*ip, *mask, *gateway, server});
    auto sent = socket->broadcast(reply, request.ifindex);
    if (!sent) {
        return fail("broadcast", sent.failure());
    }
    print("event=replied ifindex=" + std::to_string(request.ifindex) + " ip=" + bootp::ipText(*ip));

    const auto neighbour = winnet::addPermanentNeighbour(request.ifindex, *ip, mac);
    const std::string line = "event=neighbour " + neighbourText(neighbour);
    print(line);
    return 0;
}
