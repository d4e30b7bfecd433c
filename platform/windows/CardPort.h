#pragma once

#include "Link.h"
#include "PortKeeper.h"
#include "WinNet.h"

#include <memory>
#include <optional>
#include <vector>

// The card port on Windows. Windows has no privileged ports and no small privileged process
// to give them to, so the program holds UDP port 67 itself, with torvane-helper's own port
// keeper: what is passed on, which request a reply may answer, what a reply and a neighbour
// entry may say. This class gives it Winsock and the IP Helper.
namespace winnet {

class CardPort final : public helper::Link, private helper::PortSeams {
public:
    /// Binds port for this socket alone; the failure names the call and its code
    /// (WSAEADDRINUSE or WSAEACCES when another program holds the port).
    static Result<std::unique_ptr<CardPort>> open(std::uint16_t port = 67);

    helper::Answer listen() override;
    helper::Answer pause() override;
    helper::Answer want(std::span<const helper::Mac> macs) override { return m_keeper.want(macs); }
    helper::Answer reply(std::uint32_t id, const helper::Bytes& datagram) override;
    helper::Answer neighbour(std::uint32_t id, const helper::Ipv4& ip,
                             const helper::Mac& mac) override;
    helper::Answer finish(std::uint32_t id) override;
    helper::Answer temporary(std::uint32_t id, const helper::Ipv4& address,
                             std::uint32_t lifetime) override;
    ~CardPort() override;
    std::optional<helper::Request> readRequest() override;
    bool died() const override { return false; }
    std::uintptr_t waitHandle() const override
    {
        return m_socket ? m_socket->handle() : ~std::uintptr_t(0);
    }
    void stop() override;
    /// Also what only Windows answers: a call this Windows lacks, a write that needs an
    /// administrator.
    text::Twin words(const helper::Answer& answer) const override;

    /// The socket, for a window that has its events posted as messages; none once stopped.
    UdpServerSocket* socket() { return m_socket ? &*m_socket : nullptr; }
    /// Where replies go (68; tests move it).
    void setClientPort(std::uint16_t port) { m_clientPort = port; }

private:
    CardPort() = default;

    bool hostFacts(bootp::HostFacts& out) override;
    double now() override;
    helper::Answer send(std::span<const std::uint8_t> reply, int ifindex) override;
    helper::Answer writeEntry(const helper::EntryRecord& record) override;
    helper::Answer addTemporary(const helper::TemporaryRecord& record) override;
    void removeTemporaries();

    Winsock m_winsock; // before the socket, which needs it
    std::optional<UdpServerSocket> m_socket;
    helper::PortKeeper m_keeper{*this};
    std::uint16_t m_clientPort = 68;
    std::vector<helper::TemporaryRecord> m_temporaries; // removed when the search ends
};

} // namespace winnet
