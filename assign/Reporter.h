#pragma once

#include "Event.h"
#include "Say.h"

#include <string>

namespace assign {

/// Prints events on stdout, one line each, flushed at once so that a script sees them as they
/// happen. On a terminal with the text format a status line ("12/40 assigned ...") stays below
/// them and is redrawn in place.
class Reporter {
public:
    Reporter(Format format, bool terminal) : m_format(format), m_terminal(terminal) {}
    ~Reporter();

    void emit(const Event& event);
    void status(const std::string& text);
    /// A problem for the operator on stderr; with --format json also as an "error" event, whose
    /// message is the English twin.
    void error(const text::Twin& said);
    void error(const std::string& text) { error(text::Twin(text)); }
    Format format() const { return m_format; }

private:
    void clearStatus();

    Format m_format;
    bool m_terminal;
    std::string m_status;
};

} // namespace assign
