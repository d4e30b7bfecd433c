#include "Reporter.h"

#include <cstdio>

namespace assign {

Reporter::~Reporter()
{
    clearStatus();
}

void Reporter::clearStatus()
{
    if (!m_status.empty()) {
        std::fputs("\r\033[K", stdout);
        m_status.clear();
    }
}

void Reporter::emit(const Event& event)
{
    const std::string saved = m_status;
    clearStatus();
    std::fputs((formatEvent(event, m_format) + "\n").c_str(), stdout);
    status(saved);
    std::fflush(stdout);
}

void Reporter::status(const std::string& text)
{
    if (!m_terminal || m_format != Format::Text) {
        return;
    }
    clearStatus();
    if (!text.empty()) {
        std::fputs(text.c_str(), stdout);
    }
    m_status = text;
    std::fflush(stdout);
}

void Reporter::error(const text::Twin& said)
{
    const std::string saved0 = m_status;
    clearStatus();
    std::fprintf(stderr, "torvane-assign: %s\n", said.local().c_str());
    status(saved0);
    if (m_format == Format::Json) {
        Event e("error", said.english);
        e.add("message", said.english);
        const std::string saved = m_status;
        clearStatus();
        std::fputs((formatEvent(e, m_format) + "\n").c_str(), stdout);
        status(saved);
        std::fflush(stdout);
    }
}

} // namespace assign
