#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The reading of an octet box's text, kept free of widgets so that it can be tested alone.
// Texts are UTF-16 as the boxes hold them.
namespace octet {

/// The lenient number reading of a box's text: blanks (space, tab, line feed) anywhere are
/// ignored; then an optional sign, digits and an optional "." with further digits, as far as
/// they go. No exponent or radix forms. A text without a number at its start reads 0.
double reading(std::u16string_view text);

/// Rounds to the nearest integer, halves to the even neighbour, whatever the FPU mode.
double roundHalfEven(double v);

/// The byte a box's text stands for: its reading rounded half to even, held in 0 to 255.
std::uint8_t value(std::u16string_view text);

/// The text a box is normalised to when it loses the focus: the decimal form of value().
std::u16string normalText(std::u16string_view text);

/// True exactly when ch lies from "0" to "9" in code order; for one character, a digit.
/// The empty text is no digit.
bool isNumChar(std::u16string_view ch);

} // namespace octet
