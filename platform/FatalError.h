#pragma once

#include <QString>

#include <stdexcept>

// An error that no handler of the windows catches: it ends the program after a report with
// its number and a description that names the cause. Thrown by failing platform operations.
class FatalError : public std::runtime_error {
public:
    FatalError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description)
    {
    }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};
