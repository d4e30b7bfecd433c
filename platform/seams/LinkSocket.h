#pragma once

#include "DatagramSocket.h"
#include "Link.h"
#include "NeighbourTable.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The windows' socket and neighbour table over the link to whoever holds the card port
// (torvane-helper on Linux, the program's own CardPort on Windows). Binding opens the link (or
// listens again), closing pauses it, ending the search lets it go. What stays per platform is
// behind LinkHooks: getting the link, waking up when it has something to read, and the
// interface facts.

/// The platform's part under LinkSocket.
class LinkHooks {
public:
    virtual ~LinkHooks() = default;

    /// The link, opened for port (or started) when there is none yet; throws SearchFailure.
    virtual helper::Link& open(int port) = 0;
    /// The link, or nullptr while there is none.
    virtual helper::Link* link() = 0;
    /// Lets the link and its port go.
    virtual void end() = 0;

    /// From now on call readable (on the user-interface thread) whenever the link may have
    /// something to read, at least once soon after this call.
    virtual void watch() = 0;
    /// The socket has paused; what the platform still delivers is read and dropped.
    virtual void unwatch() = 0;
    /// Set by the socket: what a wake-up calls, and what an asynchronous error of the
    /// platform calls (its number and description, UTF-8).
    std::function<void()> readable;
    std::function<void(std::int16_t number, const std::string& description)> failed;

    struct Address {
        std::uint32_t address = 0; ///< host byte order
        int prefix = 32;
    };
    /// This PC's IPv4 address in dotted form, for the windows' own use.
    virtual std::string localIP() const = 0;
    /// The interface's name, or "interface N" (::interfaceName).
    virtual std::string interfaceName(int ifindex) const = 0;
    /// Its IPv4 addresses; nullopt when they cannot be read.
    virtual std::optional<std::vector<Address>> interfaceAddresses(int ifindex) const = 0;
    virtual bool interfaceExists(int ifindex) const = 0;
    /// When this program may not add a temporary address itself: the commands that do it by
    /// hand on interface ifindex (see netshTemporaryLines); nullopt when it may.
    virtual std::optional<text::Twin>
    temporaryByHand(int /*ifindex*/, const std::array<std::uint8_t, 4>& /*address*/,
                    const std::array<std::uint8_t, 4>& /*card*/) const
    {
        return std::nullopt;
    }
};

/// What the socket and the neighbour table share: the platform's hooks, and the request the
/// current card's reply and entry refer to.
struct LinkSession {
    explicit LinkSession(std::unique_ptr<LinkHooks> h) : hooks(std::move(h)) {}
    std::unique_ptr<LinkHooks> hooks;
    std::uint32_t requestId = 0;
    int arrival = 0;
    /// A reply to requestId went out and no neighbour entry was asked for since: the link's
    /// assignment is still open and must be finished before the next card can be answered.
    bool unfinished = false;
    /// The temporary address added last (0 when none), on interface temporaryIf.
    std::uint32_t temporary = 0;
    int temporaryIf = 0;
};

class LinkSocket final : public DatagramSocket {
public:
    explicit LinkSocket(std::shared_ptr<LinkSession> session);
    ~LinkSocket() override;
    LinkSocket(const LinkSocket&) = delete;
    LinkSocket& operator=(const LinkSocket&) = delete;

    void setLocalPort(int port) override { m_localPort = port; }
    int localPort() const override { return m_localPort; }
    void setRemotePort(int port) override { m_remotePort = port; }
    int remotePort() const override { return m_remotePort; }
    void setRemoteHost(const std::string& host) override { m_remoteHost = host; }
    std::string remoteHost() const override { return m_remoteHost; }

    std::string localIP() const override { return m_session->hooks->localIP(); }
    void bind(int localPort) override;
    bool isBound() const override { return m_listening; }
    std::vector<std::uint8_t> getData(int maxLength) override;
    int arrivalInterface() const override { return m_session->arrival; }
    void sendData(const std::vector<std::uint8_t>& data) override;
    void close() override;
    void endSearch() override;

    std::string arrivalInterfaceName() const override { return m_arrivalName; }
    std::string arrivalAddress() const override;
    bool arrivalSubnetHolds(const std::string& address) const override;
    bool arrivalInterfaceExists() const override;

    /// The platform's part, for the platform's own tests.
    LinkHooks& hooks() const { return *m_session->hooks; }

private:
    void wake();
    void finishAssignment(helper::Link& link);

    std::shared_ptr<LinkSession> m_session;
    std::deque<helper::Request> m_waiting;
    bool m_listening = false;
    std::string m_arrivalName; // kept from the arrival: a removed interface has no name any more
    int m_localPort = 0;
    int m_remotePort = 0;
    std::string m_remoteHost;
};

/// Asks the link for the entry: it writes one only for the address of the reply it just sent,
/// with that card's MAC, on the interface the card's request came in on.
class LinkNeighbourTable final : public NeighbourTable {
public:
    explicit LinkNeighbourTable(std::shared_ptr<LinkSession> session)
        : m_session(std::move(session))
    {
    }
    text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                            const std::array<std::uint8_t, 6>& mac) override;
    /// bootp's choice among the hosts of the card's subnet, past the arrival interface's own
    /// addresses; the holder of the port checks it again, with all of this PC's.
    std::optional<Ip> proposeTemporary(const Card& card) override;
    std::optional<text::Twin> temporaryByHand(const Card& card, const Ip& proposal) override;
    Temporary addTemporary(const Card& card, const Ip& first) override;
    bool temporaryPresent() override;

private:
    std::shared_ptr<LinkSession> m_session;
};

/// The four `netsh interface ipv4` command lines, for an administrator's prompt, that add the
/// temporary address and the host route to the card on interface name, then remove them;
/// store=active, so that nothing outlives a reboot.
std::array<std::string, 4> netshTemporaryLines(const std::string& name,
                                               const std::array<std::uint8_t, 4>& address,
                                               const std::array<std::uint8_t, 4>& card);
