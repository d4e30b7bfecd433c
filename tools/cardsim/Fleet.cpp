#include "Fleet.h"

#include "HttpPage.h"
#include "HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace cardsim {

namespace {

std::int64_t realtimeNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

Clock::duration seconds(double s)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

} // namespace

Fleet::Fleet(const Options& options, const Console& console, std::mt19937_64& rng)
    : o_(options), console_(console), rng_(rng), parent_(interfaceIndex(options.interface)),
      frames_(openFrameSocket())
{
}

Fleet::~Fleet()
{
    for (const Card& card : cards_) {
        if (card.ifindex == 0) {
            continue;
        }
        try {
            removeLink(card.ifindex);
        } catch (const SysError& e) {
            console_.warn(e.what());
        }
    }
    if (parentArpIgnore_) {
        try {
            setArpIgnore(o_.interface, *parentArpIgnore_);
        } catch (const SysError& e) {
            console_.warn(e.what());
        }
    }
}

void Fleet::createCards()
{
    // Without --mac-base the low byte starts at 0, so that every card's MAC differs from the
    // base in that byte only.
    Mac base = o_.macBase.value_or(localMac(rng_()));
    if (!o_.macBase) {
        base[5] = 0;
    }
    const std::string prefix = "cs" + std::to_string(::getpid()) + "-";
    cards_.reserve(static_cast<std::size_t>(o_.cards));
    for (int i = 0; i < o_.cards; ++i) {
        Card& card = cards_.emplace_back();
        card.index = static_cast<std::size_t>(i);
        card.name = prefix + std::to_string(i);
        card.mac = *macPlus(base, static_cast<std::uint32_t>(i)); // the options checked the room
        card.ifindex = addMacvlan(card.name, parent_, card.mac);
        if (o_.serveHttp) {
            setArpIgnore(card.name, 1);
        }
        card.socket = openCardSocket(card.name);
        const int on = 1;
        if (::setsockopt(card.socket.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0) {
            throw SysError("SO_TIMESTAMPNS", errno);
        }
        // Every card hears every reply; room for all of them while the others are served.
        const int room = 1 << 21;
        if (::setsockopt(card.socket.get(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) < 0) {
            ::setsockopt(card.socket.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        }
        card.xid = static_cast<std::uint32_t>(rng_());
        card.request = buildCardRequest(card.xid, card.mac, o_.length);
    }
    if (o_.serveHttp) {
        // IF has no address of the cards', but would answer ARP for all of them with its own
        // MAC; only the card holding an address may answer for it.
        const int old = arpIgnore(o_.interface);
        if (old < 1) {
            setArpIgnore(o_.interface, 1);
            parentArpIgnore_ = old;
        }
    }
}

void Fleet::send(Card& card, Clock::time_point now)
{
    const std::int64_t at = realtimeNow();
    broadcastToServers(frames_.get(), card.ifindex, card.request, card.name);
    if (card.requests == 0) {
        card.firstSent = now;
        card.deadline = now + seconds(o_.timeout);
    }
    ++card.requests;
    card.sentAt.push_back(at);
    card.nextSend += seconds(o_.interval);
    console_.note("card %zu: request %d sent on %s: xid %s, chaddr %s", card.index, card.requests,
                  card.name.c_str(), hexXid(card.xid).c_str(), formatMac(card.mac).c_str());
}

void Fleet::receive(Card& card)
{
    std::vector<std::uint8_t> buffer(65536);
    while (card.state == State::Waiting) {
        sockaddr_in from{};
        iovec io{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(card.socket.get(), &header, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                return;
            }
            throw SysError("receive on port 68 of " + card.name, errno);
        }
        std::int64_t arrived = realtimeNow();
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                arrived = std::int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
            }
        }
        const std::span<const std::uint8_t> reply(
            buffer.data(), std::min(static_cast<std::size_t>(n), buffer.size()));
        char source[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
        if (xidOf(reply) != card.xid) {
            continue; // another card's reply, or another client's
        }
        judge(card, reply, arrived, source);
    }
}

void Fleet::judge(Card& card, std::span<const std::uint8_t> reply, std::int64_t arrived,
                  const std::string& source)
{
    // The repeats are identical, so the answered one is taken to be the last sent before the
    // reply arrived.
    auto answered = std::upper_bound(card.sentAt.begin(), card.sentAt.end(), arrived);
    const std::int64_t sent = answered == card.sentAt.begin() ? card.sentAt.front() : *--answered;
    card.latency = static_cast<double>(std::max<std::int64_t>(arrived - sent, 0)) / 1e9;
    const double elapsed = std::chrono::duration<double>(Clock::now() - card.firstSent).count();
    card.socket = Fd(); // the card is done; the replies to the others need not queue up here

    const ReplyCheck check = o_.anyLayout ? checkReplyAnyLayout(card.request, reply, o_.strict)
                                          : checkReply(card.request, reply, o_.strict);
    if (!check.ok()) {
        card.state = State::Invalid;
        Record r;
        r.event = "invalid";
        r.text = "card " + std::to_string(card.index) + " (" + formatMac(card.mac) +
                 "): invalid reply from " + source + ": " + check.message;
        r.add("reason", faultName(check.fault))
            .add("mac", formatMac(card.mac))
            .add("xid", hexXid(card.xid))
            .add("source", source)
            .addNumber("length", std::to_string(reply.size()))
            .addNumber("card", std::to_string(card.index))
            .add("interface", card.name)
            .addNumber("latency", fixed(card.latency, 6));
        console_.fault(r);
        return;
    }
    card.state = State::Assigned;
    card.assignment = check.assignment;
    card.cardLayout = check.cardLayout;
    Record r = assignedRecord(check.assignment, card.mac, card.xid, card.request.size(),
                              card.requests, elapsed);
    r.text += " on " + card.name + ", latency " + fixed(card.latency, 6) + " s";
    // By the kernel's clock as latency is, from the first request: how long the card waited,
    // however late this loop got round to reading its socket (in a burst of broadcast
    // replies, each card's socket also holds a copy of every other card's reply).
    const double sinceFirst =
        static_cast<double>(std::max<std::int64_t>(arrived - card.sentAt.front(), 0)) / 1e9;
    r.addNumber("card", std::to_string(card.index))
        .add("interface", card.name)
        .addNumber("latency", fixed(card.latency, 6))
        .addNumber("since_first", fixed(sinceFirst, 6));
    addLayout(r, check);
    console_.emit(r);
}

void Fleet::timeOut(Card& card)
{
    card.state = State::TimedOut;
    card.socket = Fd();
    Record r;
    r.event = "timeout";
    r.text = "no reply for card " + std::to_string(card.index) + " (" + formatMac(card.mac) +
             ") within " + fixed(o_.timeout, 1) + " s (" + std::to_string(card.requests) +
             " requests sent on " + card.name + ")";
    r.add("mac", formatMac(card.mac))
        .add("xid", hexXid(card.xid))
        .addNumber("requests", std::to_string(card.requests))
        .addNumber("seconds", fixed(o_.timeout, 3))
        .addNumber("card", std::to_string(card.index))
        .add("interface", card.name);
    console_.fault(r);
}

void Fleet::summarise(Clock::time_point start)
{
    int assigned = 0;
    int otherLayout = 0;
    int invalid = 0;
    int timeouts = 0;
    std::vector<double> latencies;
    for (const Card& card : cards_) {
        assigned += card.state == State::Assigned;
        otherLayout += card.state == State::Assigned && !card.cardLayout;
        invalid += card.state == State::Invalid;
        timeouts += card.state == State::TimedOut;
        if (card.state == State::Assigned || card.state == State::Invalid) {
            latencies.push_back(card.latency);
        }
    }
    const double p50 = percentile(latencies, 0.5);
    const double p99 = percentile(latencies, 0.99);
    Record r;
    r.event = "summary";
    r.text = std::to_string(cards_.size()) + " cards: " + std::to_string(latencies.size()) +
             " answered (" + std::to_string(assigned) + " assigned, " + std::to_string(invalid) +
             " invalid), " + std::to_string(timeouts) + " timed out";
    if (otherLayout > 0) {
        r.text += "; " + std::to_string(otherLayout) +
                  " of the assigned only by --any-layout: the card refuses their replies";
    }
    if (!latencies.empty()) {
        r.text += "; latency p50 " + fixed(p50, 6) + " s, p99 " + fixed(p99, 6) + " s";
    }
    r.addNumber("cards", std::to_string(cards_.size()))
        .addNumber("answered", std::to_string(latencies.size()))
        .addNumber("assigned", std::to_string(assigned))
        .addNumber("invalid", std::to_string(invalid))
        .addNumber("timeouts", std::to_string(timeouts))
        .addNumber("other_layout", std::to_string(otherLayout));
    if (!latencies.empty()) {
        r.addNumber("p50", fixed(p50, 6)).addNumber("p99", fixed(p99, 6));
    }
    r.addNumber("seconds", fixed(std::chrono::duration<double>(Clock::now() - start).count(), 3));
    console_.emit(r);
}

void Fleet::serve()
{
    HttpServer server;
    int serving = 0;
    for (Card& card : cards_) {
        if (card.state != State::Assigned) {
            continue;
        }
        const Assignment& a = card.assignment;
        const std::string url = "http://" + dotted(a.address) +
                                (o_.httpPort == 80 ? "" : ":" + std::to_string(o_.httpPort)) + "/";
        const auto prefix = prefixLength(a.mask);
        if (!prefix) {
            console_.warn("card " + std::to_string(card.index) + ": mask " + dotted(a.mask) +
                          " has holes; its page is not served");
            continue;
        }
        try {
            addAddress(card.ifindex, a.address, *prefix);
            server.listen(a.address, o_.httpPort, card.name, cardPage(card.mac, a));
        } catch (const SysError& e) {
            // Two cards given one address, say: the others are still served.
            console_.warn("card " + std::to_string(card.index) + ": " + e.what() +
                          "; its page is not served");
            continue;
        }
        ++serving;
        Record r;
        r.event = "serving";
        r.text = "card " + std::to_string(card.index) + ": serving " + url + " on " + card.name;
        r.add("url", url)
            .add("interface", card.name)
            .addNumber("card", std::to_string(card.index))
            .add("mac", formatMac(card.mac));
        console_.emit(r);
    }
    const auto until =
        o_.serveSeconds > 0 ? Clock::now() + seconds(o_.serveSeconds) : Clock::time_point::max();
    if (serving > 0) {
        server.serve(until, g_signal, waitMask(), [this](const HttpAnswer& answer) {
            console_.note("http %s %s: %d", printable(answer.method).c_str(),
                          printable(answer.path).c_str(), answer.status);
        });
    }
    Record done;
    done.event = "served";
    done.text = "served " + std::to_string(server.answered()) + " HTTP requests";
    done.addNumber("requests", std::to_string(server.answered()));
    console_.emit(done);
}

int Fleet::run()
{
    createCards();
    const auto start = Clock::now();
    for (Card& card : cards_) {
        card.nextSend = start + seconds(o_.spread * static_cast<double>(card.index) /
                                        static_cast<double>(cards_.size()));
    }
    std::vector<pollfd> polled;
    std::vector<Card*> polledCards;
    while (g_signal == 0) {
        const auto now = Clock::now();
        auto wake = Clock::time_point::max();
        polled.clear();
        polledCards.clear();
        for (Card& card : cards_) {
            if (card.state != State::Waiting) {
                continue;
            }
            if (card.requests > 0 && now >= card.deadline) {
                timeOut(card);
                continue;
            }
            if (now >= card.nextSend) {
                send(card, now);
            }
            wake = std::min(wake, card.nextSend);
            if (card.requests > 0) {
                wake = std::min(wake, card.deadline);
            }
            polled.push_back({card.socket.get(), POLLIN, 0});
            polledCards.push_back(&card);
        }
        if (polled.empty()) {
            break;
        }
        if (!waitFor(polled, wake)) {
            continue;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].revents != 0) {
                receive(*polledCards[i]);
            }
        }
    }
    if (g_signal != 0) {
        return 128 + g_signal;
    }
    summarise(start);
    const bool anyInvalid = std::any_of(cards_.begin(), cards_.end(),
                                        [](const Card& c) { return c.state == State::Invalid; });
    const bool anyTimeout = std::any_of(cards_.begin(), cards_.end(),
                                        [](const Card& c) { return c.state == State::TimedOut; });
    if (o_.serveHttp) {
        serve();
    }
    return anyInvalid ? kExitInvalidReply : anyTimeout ? kExitTimeout : kExitOk;
}

} // namespace cardsim
