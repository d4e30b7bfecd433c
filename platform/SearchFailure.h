#pragma once

#include <QString>

#include <stdexcept>

// A failure of the search that the operator can fix and retry (port 67 held, the helper
// missing or refusing, an interface gone): the window reports it and carries on. The
// description is Japanese for the window; the detail English for stderr.
class SearchFailure : public std::runtime_error {
public:
    SearchFailure(int number, const QString& description, const QString& detail)
        : std::runtime_error(detail.toStdString()), m_number(number), m_description(description),
          m_detail(detail)
    {
    }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const QString& detail() const { return m_detail; }

private:
    int m_number;
    QString m_description;
    QString m_detail;
};
