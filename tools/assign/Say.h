#pragma once

#include "Texts.h"

#include <initializer_list>
#include <string>
#include <string_view>

// A sentence for the operator in the interface's language, with its English twin for the
// machine-readable output (a JSON "message" stays the same whatever the desktop's language).
namespace assign {

struct Said {
    std::string text;    ///< in text::language()
    std::string english; ///< the same in English
};

inline Said say(text::Id id, std::initializer_list<std::string_view> args = {})
{
    return {text::format(id, args), text::format(text::tr(id, text::Lang::English), args)};
}

/// Words the catalogue does not have (a parser's message, an errno text): the same in both.
inline Said plain(std::string text)
{
    return {text, text};
}

} // namespace assign
