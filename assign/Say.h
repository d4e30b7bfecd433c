#pragma once

#include "Twin.h"

#include <initializer_list>
#include <string>
#include <string_view>

// A sentence for the operator in the interface's language, with its English twin for the
// machine-readable output (a JSON "message" stays the same whatever the desktop's language).
namespace assign {

inline text::Twin say(text::Id id, std::initializer_list<std::string_view> args = {})
{
    return {text::format(text::tr(id, text::Lang::Japanese), args),
            text::format(text::tr(id, text::Lang::English), args)};
}

} // namespace assign
