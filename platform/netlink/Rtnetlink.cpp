#include "Rtnetlink.h"

#include "InterfaceName.h"

#include <libmnl/libmnl.h>

#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

namespace netlink {

namespace {

// Dumps one kind of object on a socket of its own; keep(x) says which belong to the answer.
template <typename T, typename Keep>
Result<std::vector<T>> dump(wire::Query& query, const Keep& keep)
{
    wire::Socket socket;
    std::vector<T> all;
    if (const int error = socket.dump(query.message(), all); error != 0) {
        return Failure{error};
    }
    std::vector<T> out;
    for (T& item : all) {
        if (keep(item)) {
            out.push_back(std::move(item));
        }
    }
    return out;
}

} // namespace

Result<std::vector<Address>> addresses(unsigned index)
{
    wire::Query q(RTM_GETADDR, NLM_F_DUMP);
    auto& ifa = q.header<ifaddrmsg>();
    ifa.ifa_family = AF_INET;
    ifa.ifa_index = index;
    return dump<Address>(q, [index](const Address& a) { return index == 0 || a.index == index; });
}

Result<std::vector<Neighbour>> neighbours(unsigned index)
{
    wire::Query q(RTM_GETNEIGH, NLM_F_DUMP);
    q.header<ndmsg>().ndm_family = AF_INET;
    if (index != 0) {
        q.put(NDA_IFINDEX, &index, sizeof index);
    }
    return dump<Neighbour>(q,
                           [index](const Neighbour& n) { return index == 0 || n.index == index; });
}

Result<std::optional<Neighbour>> neighbour(unsigned index, Ipv4 ip)
{
    wire::Socket socket;
    std::optional<Neighbour> found;
    if (const int error = wire::neighbour(socket, index, ip, found); error != 0) {
        return Failure{error};
    }
    return found;
}

Result<std::vector<Route>> routes()
{
    wire::Socket socket;
    std::vector<Route> all;
    if (const int error = wire::routes(socket, all); error != 0) {
        return Failure{error};
    }
    // The dump holds the local table and any others too.
    std::vector<Route> out;
    for (Route& r : all) {
        if (r.table == RT_TABLE_MAIN) {
            out.push_back(std::move(r));
        }
    }
    return out;
}

Result<std::vector<Link>> links()
{
    wire::Query q(RTM_GETLINK, NLM_F_DUMP);
    q.header<ifinfomsg>().ifi_family = AF_UNSPEC;
    return dump<Link>(q, [](const Link&) { return true; });
}

Request::Request(std::uint16_t type, std::uint16_t flags)
{
    m_message = mnl_nlmsg_put_header(m_buffer.data());
    m_message->nlmsg_type = type;
    m_message->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
}

void* Request::reserveHeader(std::size_t size)
{
    return mnl_nlmsg_put_extra_header(m_message, size);
}

void Request::put(std::uint16_t type, const void* data, std::size_t size)
{
    if (!mnl_attr_put_check(m_message, m_buffer.size(), type, size, data)) {
        m_overflow = true;
    }
}

void Request::putString(std::uint16_t type, const std::string& text)
{
    if (!mnl_attr_put_strz_check(m_message, m_buffer.size(), type, text.c_str())) {
        m_overflow = true;
    }
}

nlattr* Request::nest(std::uint16_t type)
{
    nlattr* n = mnl_attr_nest_start_check(m_message, m_buffer.size(), type);
    if (n == nullptr) {
        m_overflow = true;
    }
    return n;
}

void Request::endNest(nlattr* nest)
{
    if (nest != nullptr) {
        mnl_attr_nest_end(m_message, nest);
    }
}

int Request::execute()
{
    if (m_overflow) {
        return EMSGSIZE;
    }
    wire::Socket socket;
    return socket.exchange(*m_message, [](const nlmsghdr*) { return 0; });
}

} // namespace netlink

std::string interfaceName(unsigned index)
{
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(index, name) == nullptr) {
        return "interface " + std::to_string(index);
    }
    return name;
}
