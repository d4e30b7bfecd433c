#pragma once

#include "CardSim.h"
#include "Console.h"
#include "SimLink.h"
#include "SimOptions.h"
#include "Signals.h"

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace cardsim {

/// N cards at once (--cards N). Each card is a macvlan interface of IF carrying the card's MAC:
/// its request leaves with that MAC as the frame's source, and with --serve-http its page is
/// served on its own interface, so that only frames the PC sends to that MAC reach it.
class Fleet {
public:
    Fleet(const Options& options, const Console& console, std::mt19937_64& rng);
    /// Removes the card interfaces and gives IF its arp_ignore back.
    ~Fleet();
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    /// Runs the cards, then (--serve-http) serves their pages; returns the exit status.
    int run();

private:
    enum class State { Waiting, Assigned, Invalid, TimedOut };

    struct Card {
        std::size_t index = 0;
        std::string name; // of its interface
        int ifindex = 0;
        Mac mac{};
        Fd socket;
        std::uint32_t xid = 0;
        Bytes request;
        Clock::time_point nextSend;
        Clock::time_point firstSent;
        Clock::time_point deadline;
        int requests = 0;
        std::vector<std::int64_t> sentAt; // CLOCK_REALTIME ns of each request, as the kernel
                                          // stamps arrivals in the same clock
        State state = State::Waiting;
        Assignment assignment;
        bool cardLayout = true;
        double latency = 0;
    };

    void createCards();
    void send(Card& card, Clock::time_point now);
    void receive(Card& card);
    void judge(Card& card, std::span<const std::uint8_t> reply, std::int64_t arrived,
               const std::string& source);
    void timeOut(Card& card);
    void summarise(Clock::time_point start);
    void serve();

    const Options& o_;
    const Console& console_;
    std::mt19937_64& rng_;
    int parent_;
    Fd frames_; // every card's requests leave here, each on its own interface
    std::vector<Card> cards_;
    std::optional<int> parentArpIgnore_; // to give back
};

} // namespace cardsim
