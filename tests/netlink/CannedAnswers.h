#pragma once

// Kernel answers for the tests of the rtnetlink reader: datagrams laid out as the kernel lays
// them out, and a stand-in of the kernel that answers each request with canned datagrams.
#include "NetlinkWire.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

namespace {

constexpr std::uint32_t kSeq = 7;
constexpr std::uint32_t kPort = 4242;

// Builds a datagram of netlink messages as the kernel lays them out: each message and each
// attribute padded to four bytes.
class Datagram {
public:
    /// Starts a message; its length is fixed by end().
    Datagram& message(std::uint16_t type, std::uint16_t flags = NLM_F_MULTI,
                      std::uint32_t seq = kSeq, std::uint32_t port = kPort)
    {
        m_start = m_bytes.size();
        nlmsghdr h{};
        h.nlmsg_type = type;
        h.nlmsg_flags = flags;
        h.nlmsg_seq = seq;
        h.nlmsg_pid = port;
        append(&h, sizeof h);
        return *this;
    }
    template <typename T> Datagram& body(const T& value)
    {
        append(&value, sizeof value);
        return *this;
    }
    Datagram& attribute(std::uint16_t type, const void* data, std::size_t size)
    {
        const nlattr a{static_cast<std::uint16_t>(NLA_HDRLEN + size), type};
        append(&a, sizeof a);
        append(data, size);
        return *this;
    }
    Datagram& ipv4(std::uint16_t type, const char* dotted)
    {
        in_addr a{};
        inet_pton(AF_INET, dotted, &a);
        return attribute(type, &a, 4);
    }
    Datagram& end()
    {
        const auto length = static_cast<std::uint32_t>(m_bytes.size() - m_start);
        std::memcpy(m_bytes.data() + m_start, &length, sizeof length);
        return *this;
    }
    /// NLMSG_DONE of a dump with its status (0, or -errno when the dump failed).
    Datagram& done(int status = 0, std::uint16_t flags = NLM_F_MULTI)
    {
        return message(NLMSG_DONE, flags).body(status).end();
    }
    /// NLMSG_ERROR: 0 acknowledges, -errno refuses.
    Datagram& error(int error)
    {
        nlmsgerr e{};
        e.error = error;
        return message(NLMSG_ERROR, 0).body(e).end();
    }
    /// An IPv4 address of interface `index`.
    Datagram& address(unsigned index, const char* ip, int prefix, const char* label)
    {
        ifaddrmsg ifa{};
        ifa.ifa_family = AF_INET;
        ifa.ifa_prefixlen = static_cast<std::uint8_t>(prefix);
        ifa.ifa_index = index;
        message(RTM_NEWADDR).body(ifa).ipv4(IFA_ADDRESS, ip).ipv4(IFA_LOCAL, ip);
        return attribute(IFA_LABEL, label, std::strlen(label) + 1).end();
    }

    /// RTA_MULTIPATH with one next hop through each gateway.
    Datagram& nexthops(std::initializer_list<const char*> gateways)
    {
        std::vector<std::uint8_t> hops;
        for (const char* gateway : gateways) {
            rtnexthop hop{};
            hop.rtnh_len = sizeof hop + RTA_LENGTH(4);
            const rtattr a{RTA_LENGTH(4), RTA_GATEWAY};
            in_addr ip{};
            inet_pton(AF_INET, gateway, &ip);
            const auto* p = reinterpret_cast<const std::uint8_t*>(&hop);
            hops.insert(hops.end(), p, p + sizeof hop);
            p = reinterpret_cast<const std::uint8_t*>(&a);
            hops.insert(hops.end(), p, p + sizeof a);
            p = reinterpret_cast<const std::uint8_t*>(&ip);
            hops.insert(hops.end(), p, p + 4);
        }
        return attribute(RTA_MULTIPATH, hops.data(), hops.size());
    }

    /// A nexthop object: a gateway on interface `index`, or (gateway null) a group of members.
    Datagram& nexthop(std::uint32_t id, const char* gateway, std::uint32_t index,
                      std::initializer_list<std::uint32_t> members = {})
    {
        nhmsg nh{};
        nh.nh_family = gateway != nullptr ? AF_INET : AF_UNSPEC;
        message(RTM_NEWNEXTHOP).body(nh).attribute(NHA_ID, &id, sizeof id);
        if (gateway != nullptr) {
            ipv4(NHA_GATEWAY, gateway).attribute(NHA_OIF, &index, sizeof index);
        }
        std::vector<nexthop_grp> group;
        for (const std::uint32_t member : members) {
            group.push_back({member, 1, 0, 0});
        }
        if (!group.empty()) {
            attribute(NHA_GROUP, group.data(), group.size() * sizeof(nexthop_grp));
        }
        return end();
    }

    std::vector<std::uint8_t>& bytes() { return m_bytes; }
    std::span<const std::uint8_t> span() const { return m_bytes; }

private:
    void append(const void* data, std::size_t size)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
        m_bytes.resize(NLMSG_ALIGN(m_bytes.size()));
    }

    std::vector<std::uint8_t> m_bytes;
    std::size_t m_start = 0;
};

// The kernel as an exchange sees it: each request takes the next canned answer, whose messages
// of sequence kSeq are given the request's. What a refused exchange leaves unread stays queued,
// as in a socket.
class CannedKernel : public netlink::wire::Socket {
public:
    CannedKernel() : Socket(kPort) {}

    /// The answer to the next request, from `sender` (0: the kernel).
    CannedKernel& answer(std::vector<Datagram> datagrams, std::uint32_t sender = 0)
    {
        m_answers.push_back({std::move(datagrams), sender});
        return *this;
    }

    int requests = 0;

protected:
    int send(const nlmsghdr& request) override
    {
        ++requests;
        if (m_answers.empty()) {
            return 0; // no answer ever comes
        }
        for (Datagram& d : m_answers.front().datagrams) {
            auto& bytes = d.bytes();
            for (std::size_t at = 0; at + sizeof(nlmsghdr) <= bytes.size();) {
                nlmsghdr h;
                std::memcpy(&h, bytes.data() + at, sizeof h);
                if (h.nlmsg_seq == kSeq) {
                    h.nlmsg_seq = request.nlmsg_seq;
                    std::memcpy(bytes.data() + at, &h, sizeof h);
                }
                at += NLMSG_ALIGN(std::max<std::size_t>(h.nlmsg_len, sizeof h));
            }
            m_queue.push_back({bytes, m_answers.front().sender});
        }
        m_answers.pop_front();
        return 0;
    }

    int receive(std::span<std::uint8_t> buffer, bool wait, std::size_t& size,
                std::uint32_t& sender) override
    {
        if (m_queue.empty()) {
            return wait ? ETIMEDOUT : EAGAIN;
        }
        const Queued q = std::move(m_queue.front());
        m_queue.pop_front();
        std::memcpy(buffer.data(), q.bytes.data(), q.bytes.size());
        size = q.bytes.size();
        sender = q.sender;
        return 0;
    }

private:
    struct Answer {
        std::vector<Datagram> datagrams;
        std::uint32_t sender;
    };
    struct Queued {
        std::vector<std::uint8_t> bytes;
        std::uint32_t sender;
    };
    std::deque<Answer> m_answers;
    std::deque<Queued> m_queue;
};

} // namespace
