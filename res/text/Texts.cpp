#include "Texts.h"

#include <array>
#include <cstdlib>

namespace text {

namespace {

struct Entry {
    const char* japanese;
    const char* english;
};

constexpr std::array<Entry, static_cast<std::size_t>(Id::Count)> kEntries{{
#define TORVANE_TEXT(id, japanese, english) {japanese, english},
#include "Texts.def"
#undef TORVANE_TEXT
}};

Lang g_language = Lang::Japanese;

bool isCLocale(std::string_view locale)
{
    return locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.");
}

std::string_view variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string_view{} : std::string_view{value};
}

} // namespace

Lang languageOf(std::string_view locale)
{
    if (isCLocale(locale)) {
        return Lang::Japanese;
    }
    return locale.starts_with("ja") &&
                   (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@')
               ? Lang::Japanese
               : Lang::English;
}

Lang languageFromEnvironment()
{
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = variable(name);
        if (!locale.empty()) {
            break;
        }
    }
    if (isCLocale(locale)) {
        return Lang::Japanese;
    }
    const std::string_view priority = variable("LANGUAGE");
    if (!priority.empty()) {
        const std::string_view first = priority.substr(0, priority.find(':'));
        if (!first.empty()) {
            return languageOf(first);
        }
    }
    return languageOf(locale);
}

Lang languageFromWindows(unsigned short langid)
{
    // PRIMARYLANGID: the low ten bits; LANG_JAPANESE is 0x11.
    constexpr unsigned short kPrimaryMask = 0x3ff;
    constexpr unsigned short kJapanese = 0x11;
    return (langid & kPrimaryMask) == kJapanese ? Lang::Japanese : Lang::English;
}

Lang language()
{
    return g_language;
}

void setLanguage(Lang lang)
{
    g_language = lang;
}

const char* tr(Id id)
{
    return tr(id, g_language);
}

const char* tr(Id id, Lang lang)
{
    const Entry& e = kEntries.at(static_cast<std::size_t>(id));
    return lang == Lang::Japanese ? e.japanese : e.english;
}

std::string format(Id id, std::initializer_list<std::string_view> args)
{
    return format(tr(id), args);
}

std::string format(std::string_view pattern, std::initializer_list<std::string_view> args)
{
    return format(pattern, std::span<const std::string_view>(args.begin(), args.size()));
}

std::string format(std::string_view pattern, std::span<const std::string_view> args)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace text
