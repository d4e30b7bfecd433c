#include "OctetText.h"

#include <cmath>

namespace octet {

namespace {
bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}
} // namespace

double reading(std::u16string_view text)
{
    std::u16string s;
    for (char16_t c : text) {
        if (!isBlank(c)) {
            s.push_back(c);
        }
    }
    std::size_t i = 0;
    double sign = 1.0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        sign = s[i] == u'-' ? -1.0 : 1.0;
        ++i;
    }
    // All digits as one whole number, divided once at the end, so that 2.5 is exactly 2.5
    // and the rounding of a half is not spoilt by a sum of tenths.
    double digits = 0.0;
    double divisor = 1.0;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        digits = digits * 10.0 + (s[i] - u'0');
    }
    if (i < s.size() && s[i] == u'.') {
        for (++i; i < s.size() && isDigit(s[i]); ++i) {
            digits = digits * 10.0 + (s[i] - u'0');
            divisor *= 10.0;
        }
    }
    const double v = digits / divisor;
    return sign * v;
}

double roundHalfEven(double v)
{
    const double down = std::floor(v);
    const double diff = v - down;
    if (diff < 0.5) {
        return down;
    }
    if (diff > 0.5) {
        return down + 1.0;
    }
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

std::uint8_t value(std::u16string_view text)
{
    const double v = roundHalfEven(reading(text));
    // A negative reading (or -0) cannot be a byte; it is held at 0, as at 255 above.
    if (!(v > 0.0)) {
        return 0;
    }
    return v > 255.0 ? 255 : static_cast<std::uint8_t>(v);
}

std::u16string normalText(std::u16string_view text)
{
    const std::string digits = std::to_string(value(text));
    return {digits.begin(), digits.end()};
}

bool isNumChar(std::u16string_view ch)
{
    return !ch.empty() && ch >= u"0" && ch <= u"9";
}

} // namespace octet
