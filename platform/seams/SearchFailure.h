#pragma once

#include "Twin.h"

#include <concepts>
#include <stdexcept>

// A failure of the search that the operator can fix and retry (port 67 held, the helper
// missing or refusing, an interface gone): the window reports it and carries on. The text is
// kept in both languages: the window shows the process's language, stderr the English.
class SearchFailure : public std::runtime_error {
public:
    /// number: a real error code (errno), or 0 when there is none to show.
    SearchFailure(int number, text::Twin what)
        : std::runtime_error(what.english), m_number(number), m_what(std::move(what))
    {
    }
    /// A toolkit's strings (anything with toStdString()), taken as UTF-8.
    template <typename S>
    requires requires(const S& s)
    {
        {
            s.toStdString()
            } -> std::convertible_to<std::string>;
    }
    SearchFailure(int number, const S& description, const S& english)
        : SearchFailure(number, text::Twin(description.toStdString(), english.toStdString()))
    {
    }
    int number() const { return m_number; }
    const text::Twin& text() const { return m_what; }
    /// In the process's language, for the window.
    const std::string& description() const { return m_what.local(); }
    /// In English, for stderr.
    const std::string& detail() const { return m_what.english; }

private:
    int m_number;
    text::Twin m_what;
};
