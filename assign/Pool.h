#pragma once

#include "Wording.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>

// A range of addresses handed out in order to cards that are not on the relation list.
namespace assign {

struct PoolRange {
    Ip first = 0;
    Ip last = 0;
};

/// "10.0.0.101-10.0.0.140"; on failure why says what is wrong.
std::optional<PoolRange> parsePool(std::string_view text, text::Twin& why);
std::string poolText(const PoolRange& range);

/// Why the range cannot be handed out with this mask and gateway, or empty: it must lie in one
/// subnet, hold neither that subnet's network or broadcast address nor the gateway, and the
/// gateway must lie in that subnet.
text::Twin poolProblem(const PoolRange& range, Ip mask, Ip gateway);

/// Walks the range upwards and never returns an address twice or a reserved one.
class Pool {
public:
    explicit Pool(PoolRange range) : m_range(range), m_next(range.first) {}

    /// Never hand out ip (a listed card's, a recorded one, one of this PC, the gateway).
    void reserve(Ip ip) { m_reserved.insert(ip); }
    /// Continue after ip, as a later run continues an earlier one's record.
    void continueAfter(Ip ip);
    /// The next address, or nullopt when the range is used up. An address given back comes
    /// first, the lowest of them.
    std::optional<Ip> take();
    /// ip, taken before, was not handed out after all.
    void giveBack(Ip ip) { m_returned.insert(ip); }
    bool contains(Ip ip) const { return ip >= m_range.first && ip <= m_range.last; }
    const PoolRange& range() const { return m_range; }

private:
    PoolRange m_range;
    std::uint64_t m_next; ///< wide, so that a range ending at .255 cannot wrap
    std::set<Ip> m_reserved;
    std::set<Ip> m_returned;
};

} // namespace assign
