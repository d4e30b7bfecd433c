#pragma once

#include "Texts.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace text {

/// One text in both languages at once: the window shows it in the process's language while
/// stderr says the same in English. A plain string (a path, a number) is the same in both.
struct Twin {
    std::string japanese;
    std::string english;

    Twin() = default;
    Twin(std::string same) : japanese(same), english(std::move(same)) {}
    Twin(const char* same) : Twin(std::string(same)) {}
    Twin(std::string ja, std::string en) : japanese(std::move(ja)), english(std::move(en)) {}

    const std::string& in(Lang lang) const { return lang == Lang::Japanese ? japanese : english; }
    const std::string& local() const { return in(language()); }
    bool empty() const { return japanese.empty() && english.empty(); }
};

/// The catalogue's text id with %1 … %9 filled, each language with its own twin of the
/// arguments.
inline Twin twin(Id id, std::initializer_list<Twin> args = {})
{
    const auto fill = [&](Lang lang) {
        std::vector<std::string_view> filled;
        filled.reserve(args.size());
        for (const Twin& a : args) {
            filled.push_back(a.in(lang));
        }
        return format(tr(id, lang), filled);
    };
    return {fill(Lang::Japanese), fill(Lang::English)};
}

} // namespace text
