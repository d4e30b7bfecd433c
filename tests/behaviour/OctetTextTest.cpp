#include "OctetText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Reading {
    std::u16string text;
    double reading;        // the lenient number reading
    std::u16string normal; // the text after the box loses the focus
};

std::string printable(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += "\\u" + std::to_string(static_cast<int>(c));
        }
    }
    return out;
}

void PrintTo(const Reading& r, std::ostream* os)
{
    *os << '"' << printable(r.text) << "\" -> " << r.reading;
}

class OctetReading : public testing::TestWithParam<Reading> {};

TEST_P(OctetReading, ReadsAndNormalises)
{
    const Reading& r = GetParam();
    EXPECT_DOUBLE_EQ(octet::reading(r.text), r.reading);
    EXPECT_EQ(octet::normalText(r.text), r.normal);
    // The stored byte and the normalised text always say the same number.
    EXPECT_EQ(std::to_string(octet::value(r.text)), std::string(r.normal.begin(), r.normal.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OctetReading,
    testing::Values(Reading{u"", 0, u"0"}, Reading{u"0", 0, u"0"}, Reading{u"05", 5, u"5"},
                    Reading{u"12", 12, u"12"}, Reading{u"1x2", 1, u"1"}, Reading{u"1 5", 15, u"15"},
                    Reading{u" \t\n7", 7, u"7"}, Reading{u"+5", 5, u"5"}, Reading{u"x5", 0, u"0"},
                    // Halves go to the even neighbour.
                    Reading{u"2.5", 2.5, u"2"}, Reading{u"3.5", 3.5, u"4"},
                    Reading{u".5", 0.5, u"0"}, Reading{u"1.5", 1.5, u"2"},
                    Reading{u"2.51", 2.51, u"3"}, Reading{u"3.", 3, u"3"},
                    // Above a byte: held at 255.
                    Reading{u"256", 256, u"255"}, Reading{u"999", 999, u"255"},
                    Reading{u"254.5", 254.5, u"254"}, Reading{u"255.5", 255.5, u"255"},
                    // Below a byte: held at 0, so text and byte never disagree.
                    Reading{u"-5", -5, u"0"}, Reading{u"- 1", -1, u"0"},
                    Reading{u"-.4", -0.4, u"0"},
                    // No exponent or radix forms.
                    Reading{u"1e2", 1, u"1"}, Reading{u"&H10", 0, u"0"}, Reading{u"0x1F", 0, u"0"},
                    // Full-width digits are no digits.
                    Reading{u"\uFF11", 0, u"0"}),
    [](const testing::TestParamInfo<Reading>& info) {
        return "Text" + std::to_string(info.index);
    });

TEST(OctetIsNumChar, OnlyAsciiDigits)
{
    EXPECT_FALSE(octet::isNumChar(u""));
    for (char16_t c = u'0'; c <= u'9'; ++c) {
        EXPECT_TRUE(octet::isNumChar(std::u16string(1, c)));
    }
    for (std::u16string c : {u"/", u":", u".", u"-", u" ", u"a", u"\uFF10", u"\uFF19"}) {
        EXPECT_FALSE(octet::isNumChar(c)) << printable(c);
    }
}

} // namespace
