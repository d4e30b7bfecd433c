// torvane-cardsim: behaves like a factory-fresh Web/SNMP card on one interface, so that a PC's
// set-up can be tried without a card. See --help or README.md beside this file.

#include "CardSim.h"
#include "HttpPage.h"
#include "HttpServer.h"
#include "Link.h"
#include "Options.h"
#include "Output.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace cardsim;

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_signal = 0;

void onSignal(int signal)
{
    g_signal = signal;
}

// SIGINT and SIGTERM stay blocked and are only let in while waiting in ppoll, so a signal can
// never slip in between the check of g_signal and the wait.
sigset_t g_waitMask;

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

/// Waits until `fd` is readable (fd < 0: just waits) or `until`; false on timeout or signal.
bool waitReadable(int fd, Clock::time_point until)
{
    const auto left = std::max(until - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                     static_cast<long>(ns % 1'000'000'000)};
    pollfd p{fd, POLLIN, 0};
    const int n = ::ppoll(&p, fd < 0 ? 0 : 1, &timeout, &g_waitMask);
    if (n < 0 && errno != EINTR) {
        throw SysError("ppoll", errno);
    }
    return n > 0;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

class Simulator {
public:
    explicit Simulator(Options options)
        : o_(std::move(options)), rng_(std::random_device{}()),
          ifindex_(interfaceIndex(o_.interface)), socket_(openCardSocket(o_.interface))
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

    void emit(const Record& record) const
    {
        std::printf("%s\n", formatRecord(record, o_.format).c_str());
        std::fflush(stdout);
    }

    // A failure goes to stderr for people and, in the machine formats, to stdout as well.
    void fault(const Record& record) const
    {
        if (o_.format != Format::Text) {
            emit(record);
        }
        std::fprintf(stderr, "torvane-cardsim: %s\n", record.text.c_str());
    }

    void note(const char* format, ...) const
    {
        if (!o_.verbose) {
            return;
        }
        va_list args;
        va_start(args, format);
        std::fputs("torvane-cardsim: ", stderr);
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
        va_end(args);
    }

    void broadcast(std::span<const std::uint8_t> message)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(bootp::kServerPort);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        if (::sendto(socket_.get(), message.data(), message.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
            throw SysError("send to 255.255.255.255:67 on " + o_.interface, errno);
        }
    }

    Mac cardMac()
    {
        if (o_.mac) {
            return *o_.mac;
        }
        // The PC pins the card's address to chaddr in its neighbour table, so a card that is
        // to answer HTTP must announce the MAC it really has.
        return o_.serveHttp ? interfaceMac(o_.interface) : localMac(rng_());
    }

    Outcome runCard(const Mac& mac, Assignment& assignment);
    void runFlood();
    int serveHttp(const Mac& mac, const Assignment& assignment);

    Options o_;
    std::mt19937_64 rng_;
    int ifindex_;
    Fd socket_;
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
            note("request %d sent: xid %s, chaddr %s, %zu bytes", requests, hexXid(xid).c_str(),
                 formatMac(mac).c_str(), request.size());
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
            note("ignored %zd bytes from %s: another transaction", n, source);
            continue;
        }
        const ReplyCheck check = checkReply(request, reply, o_.strict);
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
        emit(assignedRecord(assignment, mac, xid, request.size(), requests, secondsSince(start)));
        return Outcome::Valid;
    }
    return Outcome::Interrupted;
}

void Simulator::runFlood()
{
    Pacer pacer(o_.floodRate, std::chrono::duration_cast<Pacer::Duration>(
                                  std::chrono::duration<double>(o_.floodDuration)));
    Bytes message = buildDiscover(0, localMac(0), bootp::kMinMessage);
    std::uint64_t errors = 0;
    // At most this many in one go, so that a sender that fell behind catches up in bursts the
    // receiver's queue can take.
    constexpr std::uint64_t kBatch = 256;
    note("flood: %llu DHCPDISCOVERs at %.1f/s on %s",
         static_cast<unsigned long long>(pacer.total()), o_.floodRate, o_.interface.c_str());
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
            waitReadable(-1, start + pacer.nextDue());
            continue;
        }
        for (std::uint64_t i = 0; i < due; ++i) {
            restamp(message, static_cast<std::uint32_t>(rng_()), localMac(rng_()));
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
    if (g_signal == 0) {
        waitReadable(-1, end);
    }
    const double seconds = secondsSince(start);
    const std::uint64_t sent = pacer.sent() - errors;
    const double rate = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
    Record r;
    r.event = "flood";
    r.text = "flood: " + std::to_string(sent) + " DHCPDISCOVERs in " + fixed(seconds, 3) + " s, " +
             fixed(rate, 1) + "/s achieved for " + fixed(o_.floodRate, 1) + "/s asked (" +
             std::to_string(errors) + " send errors)";
    r.addNumber("sent", std::to_string(sent))
        .addNumber("errors", std::to_string(errors))
        .addNumber("seconds", fixed(seconds, 3))
        .addNumber("rate", fixed(rate, 1))
        .addNumber("target", fixed(o_.floodRate, 1));
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
        std::fprintf(stderr,
                     "torvane-cardsim: warning: --mac %s is not %s's own address; a PC that pins "
                     "the card's address to it will not reach the page\n",
                     formatMac(*o_.mac).c_str(), o_.interface.c_str());
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
    const std::string url = "http://" + dotted(a.address) +
                            (o_.httpPort == 80 ? "" : ":" + std::to_string(o_.httpPort)) + "/";
    server.listen(a.address, o_.httpPort, "", cardPage(mac, a));

    Record serving;
    serving.event = "serving";
    serving.text =
        "serving " + url + " on " + o_.interface +
        (o_.serveSeconds > 0 ? " for " + fixed(o_.serveSeconds, 1) + " s" : " until interrupted");
    serving.add("url", url).add("interface", o_.interface);
    emit(serving);

    const auto until = o_.serveSeconds > 0
                           ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(o_.serveSeconds))
                           : Clock::time_point::max();
    server.serve(until, g_signal, &g_waitMask, [this](const HttpAnswer& answer) {
        note("http %s %s: %d", printable(answer.method).c_str(), printable(answer.path).c_str(),
             answer.status);
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
    Mac mac{};
    Assignment assignment;
    for (int card = 0; card < o_.count; ++card) {
        mac = cardMac();
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
        return " (another program holds the port without sharing it)";
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
