#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// Every text an operator reads, in Japanese and in English, in one catalogue that needs no
// toolkit: the Qt windows, torvane-assign and any other front-end take their words from here.
// The Japanese texts are the program's own wording; the English ones are their twins.
namespace text {

enum class Lang { Japanese, English };

enum class Id : unsigned short {
#define TORVANE_TEXT(id, japanese, english) id,
#include "Texts.def"
#undef TORVANE_TEXT
    Count
};

/// The language of a locale name such as "ja_JP.UTF-8", "en_GB" or "C": Japanese for
/// Japanese and for the C/POSIX locale or an empty name, English for anything else.
Lang languageOf(std::string_view locale);

/// The desktop's language as programs read it: the first of LC_ALL, LC_MESSAGES and LANG
/// that is set decides; a C/POSIX or missing locale is Japanese. LANGUAGE, a priority list,
/// wins over them unless the locale is C/POSIX, as in gettext.
Lang languageFromEnvironment();

/// The language of a Windows language identifier (GetUserDefaultUILanguage): Japanese when
/// its primary language is LANG_JAPANESE, whatever the sublanguage, English for any other.
Lang languageFromWindows(unsigned short langid);

/// The language of this process's texts; Japanese until set.
Lang language();
void setLanguage(Lang lang);

/// The text in the process's language (UTF-8), or in the one given.
const char* tr(Id id);
const char* tr(Id id, Lang lang);

/// The text with %1 … %9 replaced by the arguments in order; a marker without an argument
/// stays as it is.
std::string format(Id id, std::initializer_list<std::string_view> args);
std::string format(std::string_view pattern, std::initializer_list<std::string_view> args);
std::string format(std::string_view pattern, std::span<const std::string_view> args);

} // namespace text
