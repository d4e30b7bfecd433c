#include "Console.h"

#include <cstdarg>
#include <cstdio>

namespace cardsim {

void Console::emit(const Record& record) const
{
    std::printf("%s\n", formatRecord(record, format_).c_str());
    std::fflush(stdout);
}

void Console::fault(const Record& record) const
{
    if (format_ != Format::Text) {
        emit(record);
    }
    std::fprintf(stderr, "torvane-cardsim: %s\n", record.text.c_str());
}

void Console::warn(const std::string& text) const
{
    std::fprintf(stderr, "torvane-cardsim: warning: %s\n", text.c_str());
}

void Console::note(const char* format, ...) const
{
    if (!verbose_) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::fputs("torvane-cardsim: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace cardsim
