#include "SearchRules.h"

#include "FatalError.h"

namespace {

constexpr int kInvalidCall = 5;
constexpr int kOverflow = 6;

// The number formed by the leading digits of a part (blanks skipped); an empty part is 0.
std::uint8_t octetOf(std::string_view part, std::string_view whole)
{
    int value = 0;
    for (const char c : part) {
        if (c == ' ') {
            continue;
        }
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > 255) {
            throw FatalError(kOverflow, "Overflow: a part of the local address \"" +
                                            std::string(whole) + "\" is above 255");
        }
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

behaviour::Octets splitLocalIp(std::string_view s)
{
    const auto noDot = [&s] {
        return FatalError(kInvalidCall, "Invalid procedure call: the local address \"" +
                                            std::string(s) + "\" has fewer than three dots");
    };
    const std::size_t p1 = s.find('.');
    if (p1 == std::string_view::npos) {
        throw noDot();
    }
    const std::size_t p2 = s.find('.', p1 + 1);
    if (p2 == std::string_view::npos) {
        throw noDot();
    }
    const std::string_view r = s.substr(p2 + 1);
    const std::size_t p3 = r.find('.');
    if (p3 == std::string_view::npos) {
        throw noDot();
    }
    return {octetOf(s.substr(0, p1), s), octetOf(s.substr(p1 + 1, p2 - p1 - 1), s),
            octetOf(r.substr(0, p3), s), octetOf(r.substr(p3 + 1), s)};
}

std::string dottedText(const behaviour::Octets& o)
{
    return std::to_string(o[0]) + '.' + std::to_string(o[1]) + '.' + std::to_string(o[2]) + '.' +
           std::to_string(o[3]);
}

bool proposesNetwork(const behaviour::Octets& local)
{
    return local != behaviour::Octets{} && !(local[0] == 169 && local[1] == 254);
}
