#pragma once

#include <concepts>
#include <stdexcept>
#include <string>

// An error that no handler of the windows catches: it ends the program after a report with
// its number and a description that names the cause. Thrown by failing platform operations.
// Plain C++: a toolkit's string (anything with toStdString()) is taken as UTF-8.
class FatalError : public std::runtime_error {
public:
    FatalError(int number, std::string description)
        : std::runtime_error(description), m_number(number), m_description(std::move(description))
    {
    }
    template <typename S>
    requires requires(const S& s)
    {
        {
            s.toStdString()
            } -> std::convertible_to<std::string>;
    }
    FatalError(int number, const S& description) : FatalError(number, description.toStdString()) {}
    int number() const { return m_number; }
    /// UTF-8.
    const std::string& description() const { return m_description; }

private:
    int m_number;
    std::string m_description;
};
