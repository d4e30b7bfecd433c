#pragma once

#include "Addresses.h"
#include "Clock.h"
#include "DatagramSocket.h"
#include "NeighbourTable.h"
#include "SearchFailure.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Fakes of the platform services in plain C++, for the behaviour's tests on every platform
// and for the Qt windows' tests.

class FakeNeighbourTable final : public NeighbourTable {
public:
    struct Entry {
        int ifindex;
        std::array<std::uint8_t, 4> ip;
        std::array<std::uint8_t, 6> mac;
    };
    std::vector<Entry> entries;
    text::Twin answer;
    std::function<void()> onAdd;
    text::Twin addPermanent(int ifindex, const std::array<std::uint8_t, 4>& ip,
                            const std::array<std::uint8_t, 6>& mac) override
    {
        entries.push_back({ifindex, ip, mac});
        if (onAdd) {
            onAdd();
        }
        return answer;
    }

    /// The temporary address proposed, what adding it gives, and whether it is still there.
    std::optional<Ip> proposal;
    Temporary temporary;
    bool present = true;
    std::vector<std::pair<Card, Ip>> temporaries;
    std::optional<text::Twin> byHand;
    std::optional<Ip> proposeTemporary(const Card&) override { return proposal; }
    std::optional<text::Twin> temporaryByHand(const Card&, const Ip&) override { return byHand; }
    Temporary addTemporary(const Card& card, const Ip& first) override
    {
        temporaries.emplace_back(card, first);
        return temporary;
    }
    bool temporaryPresent() override { return present; }
};

// A clock the test steps by hand: each reading returns the next scripted value (the last one
// repeats), or advances by a fixed step.
class FakeClock final : public Clock {
public:
    std::vector<double> script;
    double step = 0.5;
    double now = 1000.0;
    int readings = 0;
    std::function<void(int)> onReading;
    double seconds() override
    {
        ++readings;
        if (onReading) {
            onReading(readings);
        }
        if (!script.empty()) {
            const std::size_t i = std::min<std::size_t>(readings - 1, script.size() - 1);
            return script[i];
        }
        const double t = now;
        now += step;
        return t;
    }
};

// The plain socket: records what the behaviour does with it and hands out canned datagrams.
class FakeDatagramSocket final : public DatagramSocket {
public:
    std::string localAddress = "192.168.0.5";
    /// The arrival interface as the behaviour asks about it.
    std::string interfaceName = "eth9";
    std::string interfaceAddress = "192.168.0.5";
    int interfacePrefix = 24;
    bool interfaceExists = true;
    int interfaceIndex = 9;
    bool bound = false;
    int binds = 0;
    int closes = 0;
    int endSearches = 0;
    int reads = 0;
    std::deque<std::vector<std::uint8_t>> queue;
    struct Sent {
        std::vector<std::uint8_t> data;
        std::string host;
        int port;
        int localPort;
        bool listenerOpen;
    };
    std::vector<Sent> sent;
    /// When set, bind or sendData throws what it throws.
    std::function<void()> failBind;
    std::function<void()> failSend;
    /// Everything done to the socket, in order: "bind", "close", "send", "end".
    std::vector<std::string> calls;

    void setLocalPort(int port) override { m_localPort = port; }
    int localPort() const override { return m_localPort; }
    void setRemotePort(int port) override { m_remotePort = port; }
    int remotePort() const override { return m_remotePort; }
    void setRemoteHost(const std::string& host) override { m_remoteHost = host; }
    std::string remoteHost() const override { return m_remoteHost; }
    std::string localIP() const override { return localAddress; }
    void bind(int port) override
    {
        ++binds;
        calls.push_back("bind");
        if (failBind) {
            failBind();
        }
        m_localPort = port;
        bound = true;
    }
    bool isBound() const override { return bound; }
    std::vector<std::uint8_t> getData(int maxLength) override
    {
        ++reads;
        if (queue.empty()) {
            return {};
        }
        std::vector<std::uint8_t> d = queue.front();
        d.resize(std::min<std::size_t>(d.size(), static_cast<std::size_t>(maxLength)));
        queue.pop_front();
        return d;
    }
    int arrivalInterface() const override { return interfaceIndex; }
    void sendData(const std::vector<std::uint8_t>& data) override
    {
        calls.push_back("send");
        if (failSend) {
            failSend();
        }
        sent.push_back({data, m_remoteHost, m_remotePort, m_localPort, bound});
    }
    void close() override
    {
        ++closes;
        calls.push_back("close");
        bound = false;
    }
    void endSearch() override
    {
        ++endSearches;
        calls.push_back("end");
        bound = false;
    }
    std::string arrivalInterfaceName() const override { return interfaceName; }
    std::string arrivalAddress() const override { return interfaceAddress; }
    bool arrivalSubnetHolds(const std::string& address) const override
    {
        const auto value = [](const std::string& dotted) {
            std::uint32_t v = 0;
            std::uint32_t part = 0;
            for (const char c : dotted + '.') {
                if (c == '.') {
                    v = v << 8 | part;
                    part = 0;
                } else {
                    part = part * 10 + static_cast<std::uint32_t>(c - '0');
                }
            }
            return v;
        };
        const std::uint32_t mask = bootp::prefixMask(interfacePrefix);
        return !interfaceAddress.empty() &&
               (value(address) & mask) == (value(interfaceAddress) & mask);
    }
    bool arrivalInterfaceExists() const override { return interfaceExists; }

    /// Queues a datagram and raises the data-arrival event, as a real socket does.
    void deliver(const std::vector<std::uint8_t>& datagram)
    {
        queue.push_back(datagram);
        if (DataArrival) {
            DataArrival(static_cast<std::int32_t>(datagram.size()));
        }
    }

private:
    int m_localPort = 0;
    int m_remotePort = 0;
    std::string m_remoteHost;
};
