// torvane-cardsim: behaves like a factory-fresh Web/SNMP card on one interface, so that a PC's
// set-up can be tried without a card. See --help or README.md beside this file.

#include "CardSim.h"
#include "Console.h"
#include "Fleet.h"
#include "HttpPage.h"
#include "HttpServer.h"
#include "SimLink.h"
#include "SimOptions.h"
#include "Output.h"
#include "Signals.h"
#include "Tls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace cardsim;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Simulator {
public:
    explicit Simulator(Options options)
        : o_(std::move(options)), console_(o_.format, o_.verbose), rng_(std::random_device{}()),
          ifindex_(interfaceIndex(o_.interface)), socket_(openCardSocket(o_.interface)),
          frames_(openFrameSocket())
    {
        if (!isLinkUp(o_.interface)) {
            throw SysError("interface " + o_.interface + " is down (ip link set " + o_.interface +
                               " up)",
                           ENETDOWN);
        }
    }

    int run();

private:
    enum class Outcome { Valid, Timeout, Invalid, Interrupted };

    void emit(const Record& record) const { console_.emit(record); }
    void fault(const Record& record) const { console_.fault(record); }

    void broadcast(std::span<const std::uint8_t> message)
    {
        broadcastToServers(frames_.get(), ifindex_, message, o_.interface);
    }

    Mac cardMac(int card)
    {
        if (o_.mac) {
            return *o_.mac;
        }
        if (o_.macBase) {
            return *macPlus(*o_.macBase, static_cast<std::uint32_t>(card)); // room checked
        }
        // The PC pins the card's address to chaddr in its neighbour table, so a card that is
        // to answer HTTP must announce the MAC it really has.
        return o_.serveHttp ? interfaceMac(o_.interface) : localMac(rng_());
    }

    Outcome runCard(const Mac& mac, Assignment& assignment);
    void runFlood();
    int serveHttp(const Mac& mac, const Assignment& assignment);

    Options o_;
    Console console_;
    std::mt19937_64 rng_;
    int ifindex_;
    Fd socket_; // the replies arrive here
    Fd frames_; // the requests leave here
};

Simulator::Outcome Simulator::runCard(const Mac& mac, Assignment& assignment)
{
    const auto xid = static_cast<std::uint32_t>(rng_());
    const Bytes request = buildCardRequest(xid, mac, o_.length);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(o_.timeout));
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o_.interval));
    auto nextSend = start;
    int requests = 0;
    std::vector<std::uint8_t> buffer(65536);

    while (g_signal == 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            Record r;
            r.event = "timeout";
            r.text = "no reply for card " + formatMac(mac) + " within " + fixed(o_.timeout, 1) +
                     " s (" + std::to_string(requests) + " requests sent on " + o_.interface + ")";
            r.add("mac", formatMac(mac))
                .add("xid", hexXid(xid))
                .addNumber("requests", std::to_string(requests))
                .addNumber("seconds", fixed(secondsSince(start), 3));
            fault(r);
            return Outcome::Timeout;
        }
        if (now >= nextSend) {
            broadcast(request);
            ++requests;
            console_.note("request %d sent: xid %s, chaddr %s, %zu bytes", requests,
                          hexXid(xid).c_str(), formatMac(mac).c_str(), request.size());
            nextSend += interval;
        }
        if (!waitReadable(socket_.get(), std::min(nextSend, deadline))) {
            continue;
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(socket_.get(), buffer.data(), buffer.size(), MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            throw SysError("receive on port 68", errno);
        }
        const std::span<const std::uint8_t> reply(buffer.data(), static_cast<std::size_t>(n));
        char source[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
        if (xidOf(reply) != xid) {
            console_.note("ignored %zd bytes from %s: another transaction", n, source);
            continue;
        }
        const ReplyCheck check = o_.anyLayout ? checkReplyAnyLayout(request, reply, o_.strict)
                                              : checkReply(request, reply, o_.strict);
        if (!check.ok()) {
            Record r;
            r.event = "invalid";
            r.text = "invalid reply from " + std::string(source) + ": " + check.message;
            r.add("reason", faultName(check.fault))
                .add("mac", formatMac(mac))
                .add("xid", hexXid(xid))
                .add("source", source)
                .addNumber("length", std::to_string(n));
            fault(r);
            return Outcome::Invalid;
        }
        assignment = check.assignment;
        Record r =
            assignedRecord(assignment, mac, xid, request.size(), requests, secondsSince(start));
        if (o_.anyLayout) {
            addLayout(r, check);
        }
        emit(r);
        return Outcome::Valid;
    }
    return Outcome::Interrupted;
}

void Simulator::runFlood()
{
    Pacer pacer(o_.floodRate, std::chrono::duration_cast<Pacer::Duration>(
                                  std::chrono::duration<double>(o_.floodDuration)));
    Bytes message = o_.floodCards ? buildCardRequest(0, localMac(0), o_.length)
                                  : buildDiscover(0, localMac(0), bootp::kMinMessage);
    const char* kind = o_.floodCards ? "card requests" : "DHCPDISCOVERs";
    std::uint64_t errors = 0;
    // Each datagram's MAC follows from its xid and this key, so that a reply to any of them is
    // known when it comes.
    const std::uint64_t key = rng_();
    std::uint64_t foreignReplies = 0;
    std::vector<std::uint8_t> buffer(65536);
    auto drain = [&] {
        ssize_t n;
        while ((n = ::recv(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0) {
            foreignReplies += answersFlood(
                std::span(buffer.data(), std::min(static_cast<std::size_t>(n), buffer.size())),
                key);
        }
    };
    // At most this many in one go, so that a sender that fell behind catches up in bursts the
    // receiver's queue can take.
    constexpr std::uint64_t kBatch = 256;
    console_.note("flood: %llu %s at %.1f/s on %s",
                  static_cast<unsigned long long>(pacer.total()), kind, o_.floodRate,
                  o_.interface.c_str());
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(o_.floodDuration));
    // Datagrams due before the end still go if the sender woke late, but a sender slower than
    // the rate stops soon after the end all the same and reports what it managed.
    const auto hardEnd = end + std::chrono::milliseconds(100);
    while (!pacer.done() && g_signal == 0) {
        const auto now = Clock::now();
        if (now >= hardEnd) {
            break;
        }
        const auto due = std::min(pacer.due(std::min(now, end) - start), kBatch);
        if (due == 0) {
            if (waitReadable(socket_.get(), start + pacer.nextDue())) {
                drain();
            }
            continue;
        }
        for (std::uint64_t i = 0; i < due; ++i) {
            const auto xid = static_cast<std::uint32_t>(rng_());
            restamp(message, xid, floodMac(xid, key));
            try {
                broadcast(message);
            } catch (const SysError& e) {
                if (e.error() != ENOBUFS && e.error() != EAGAIN) {
                    throw;
                }
                ++errors; // a full queue is what a flood may meet; count it and go on
            }
        }
        pacer.markSent(due);
    }
    while (g_signal == 0 && Clock::now() < end) {
        if (waitReadable(socket_.get(), end)) {
            drain();
        }
    }
    drain();
    const double seconds = secondsSince(start);
    const std::uint64_t sent = pacer.sent() - errors;
    const double rate = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
    Record r;
    r.event = "flood";
    r.text = "flood: " + std::to_string(sent) + " " + kind + " in " + fixed(seconds, 3) + " s, " +
             fixed(rate, 1) + "/s achieved for " + fixed(o_.floodRate, 1) + "/s asked (" +
             std::to_string(errors) + " send errors); " + std::to_string(foreignReplies) +
             " replies to these foreign clients seen";
    r.addNumber("sent", std::to_string(sent))
        .addNumber("errors", std::to_string(errors))
        .addNumber("seconds", fixed(seconds, 3))
        .addNumber("rate", fixed(rate, 1))
        .addNumber("target", fixed(o_.floodRate, 1))
        .addNumber("foreign_replies", std::to_string(foreignReplies))
        .add("kind", o_.floodCards ? "cards" : "discover");
    emit(r);
}

int Simulator::serveHttp(const Mac& mac, const Assignment& a)
{
    const auto prefix = prefixLength(a.mask);
    if (!prefix) {
        throw SysError("mask " + dotted(a.mask) + " has holes and cannot be put on " + o_.interface,
                       EINVAL);
    }
    if (o_.mac && *o_.mac != interfaceMac(o_.interface)) {
        console_.warn("--mac " + formatMac(*o_.mac) + " is not " + o_.interface +
                      "'s own address; a PC that pins the card's address to it will not reach "
                      "the page");
    }
    setLinkUp(o_.interface);
    const bool added = addAddress(ifindex_, a.address, *prefix);
    struct Remove {
        int ifindex;
        Octets address;
        int prefix;
        bool active;
        ~Remove()
        {
            if (!active) {
                return;
            }
            try {
                removeAddress(ifindex, address, prefix);
            } catch (const SysError& e) {
                std::fprintf(stderr, "torvane-cardsim: warning: %s\n", e.what());
            }
        }
    } remove{ifindex_, a.address, *prefix, added};

    HttpServer server;
    std::string url = "http://" + dotted(a.address) +
                      (o_.httpPort == 80 ? "" : ":" + std::to_string(o_.httpPort)) + "/";
    const HttpSite site{cardPage(mac, a), o_.httpBasic, {}};
    std::unique_ptr<Tls> tls;
    if (o_.https) {
        tls = std::make_unique<Tls>(a.address);
        const std::string secure = "https://" + dotted(a.address) + "/";
        server.listen(a.address, o_.httpPort, "", HttpSite{{}, {}, secure});
        server.listen(a.address, 443, "", site, tls->context());
        url = secure;
    } else {
        server.listen(a.address, o_.httpPort, "", site);
    }

    Record serving;
    serving.event = "serving";
    serving.text =
        "serving " + url + " on " + o_.interface +
        (o_.serveSeconds > 0 ? " for " + fixed(o_.serveSeconds, 1) + " s" : " until interrupted") +
        (tls ? " (certificate SHA-256 " + tls->fingerprint() + ")" : "");
    serving.add("url", url).add("interface", o_.interface);
    if (tls) {
        serving.add("sha256", tls->fingerprint());
    }
    emit(serving);

    const auto until = o_.serveSeconds > 0
                           ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(o_.serveSeconds))
                           : Clock::time_point::max();
    server.serve(until, g_signal, waitMask(), [this](const HttpAnswer& answer) {
        console_.note("http %s %s: %d", printable(answer.method).c_str(),
                      printable(answer.path).c_str(), answer.status);
    });
    const int served = server.answered();
    Record done;
    done.event = "served";
    done.text = "served " + std::to_string(served) + " HTTP requests";
    done.addNumber("requests", std::to_string(served));
    emit(done);
    return kExitOk;
}

int Simulator::run()
{
    if (o_.floodRate > 0) {
        runFlood();
        if (!o_.thenCard || g_signal != 0) {
            return g_signal != 0 ? 128 + g_signal : kExitOk;
        }
    }
    if (o_.cards > 0) {
        Fleet fleet(o_, console_, rng_);
        return fleet.run();
    }
    Mac mac{};
    Assignment assignment;
    for (int card = 0; card < o_.count; ++card) {
        mac = cardMac(card);
        switch (runCard(mac, assignment)) {
        case Outcome::Valid:
            break;
        case Outcome::Timeout:
            return kExitTimeout;
        case Outcome::Invalid:
            return kExitInvalidReply;
        case Outcome::Interrupted:
            return 128 + g_signal;
        }
    }
    return o_.serveHttp ? serveHttp(mac, assignment) : kExitOk;
}

std::string hint(const SysError& e)
{
    switch (e.error()) {
    case EPERM:
    case EACCES:
        return " (run as root, or give the program cap_net_bind_service, cap_net_raw and, for "
               "--serve-http, cap_net_admin)";
    case ENODEV:
        return " (no such interface)";
    case EADDRINUSE:
        // A macvlan refuses a MAC that another interface on the same link already carries.
        return std::string_view(e.what()).starts_with("create macvlan")
                   ? " (another interface on it carries that MAC: another torvane-cardsim "
                     "--cards with the same --mac-base?)"
                   : " (another program holds the port without sharing it)";
    default:
        return "";
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const Parsed parsed = parseArgs(args);
    if (parsed.options.help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "torvane-cardsim: %s\nTry 'torvane-cardsim --help'.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    installSignals();
    try {
        Simulator simulator(parsed.options);
        return simulator.run();
    } catch (const SysError& e) {
        std::fprintf(stderr, "torvane-cardsim: %s%s\n", e.what(), hint(e).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "torvane-cardsim: %s\n", e.what());
    }
    return kExitSystem;
}
