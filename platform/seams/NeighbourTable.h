#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "Twin.h"

// The PC's neighbour (ARP) table, and the temporary address through which the PC reaches a
// card whose new address lies outside every network of the interface it answered on.
class NeighbourTable {
public:
    using Ip = std::array<std::uint8_t, 4>;

    virtual ~NeighbourTable() = default;
    /// Adds a permanent entry for ip on the interface. Returns an empty text on success, else
    /// the cause of the failure, short enough to sit inside a sentence.
    virtual text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                                    const std::array<std::uint8_t, 6>& mac) = 0;

    /// The card just answered: its address, mask and gateway.
    struct Card {
        Ip ip{};
        Ip mask{};
        Ip gateway{};
    };
    /// The address this PC would take on the card's interface to reach it; nullopt when its
    /// subnet has none or this PC cannot take one.
    virtual std::optional<Ip> proposeTemporary(const Card&) { return std::nullopt; }
    /// What the operator must do by hand instead, when only an administrator could add the
    /// proposed address (the commands for it); nullopt when this program can.
    virtual std::optional<text::Twin> temporaryByHand(const Card&, const Ip& /*proposal*/)
    {
        return std::nullopt;
    }
    struct Temporary {
        std::optional<Ip> address; ///< the address taken
        text::Twin failure;        ///< why none was, when none was
    };
    /// Adds first, or the next address of the card's subnet while other devices answer for
    /// them, with a host route to the card alone, until the search ends.
    virtual Temporary addTemporary(const Card&, const Ip& /*first*/) { return {}; }
    /// False once the address added last has gone from its interface (another program removed
    /// it); true while it is there or cannot be looked at.
    virtual bool temporaryPresent() { return true; }
};
