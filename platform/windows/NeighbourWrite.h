#pragma once

#include "PortKeeper.h"
#include "WinNet.h"

// The neighbour write's rules apart from the IP Helper calls, so that tests drive them with a
// fake system. Plain C++: no Windows header.
namespace winnet {

using helper::NeighbourEntry;

/// The calls the write makes.
class NeighbourSystem {
public:
    virtual ~NeighbourSystem() = default;
    /// The first write call this system lacks, or nullptr when it has them all.
    virtual const char* missingCall() = 0;
    virtual Result<NeighbourEntry> entry(unsigned long ifindex, const bootp::Ipv4& ip) = 0;
    /// Adds a permanent entry where there is none; fails with kAlreadyExists when one is there.
    virtual Result<Done> create(unsigned long ifindex, const bootp::Ipv4& ip,
                                const bootp::Mac& mac) = 0;
    /// Makes the present entry permanent with mac, whatever it holds: only for an entry that
    /// already holds mac.
    virtual Result<Done> makePermanent(unsigned long ifindex, const bootp::Ipv4& ip,
                                       const bootp::Mac& mac) = 0;
    /// Removes the entry; fails with kNotFound when there is none.
    virtual Result<Done> remove(unsigned long ifindex, const bootp::Ipv4& ip) = 0;

    /// ERROR_OBJECT_ALREADY_EXISTS.
    static constexpr unsigned long kAlreadyExists = 5010;
    /// ERROR_NOT_FOUND.
    static constexpr unsigned long kNotFound = 1168;
    /// ERROR_ACCESS_DENIED: a write that needs an administrator.
    static constexpr unsigned long kAccessDenied = 5;
};

helper::Answer addPermanentNeighbour(NeighbourSystem& system, unsigned long ifindex,
                                     const bootp::Ipv4& ip, const bootp::Mac& mac);

} // namespace winnet
