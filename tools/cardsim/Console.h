#pragma once

#include "SimOptions.h"
#include "Output.h"

#include <string>

namespace cardsim {

/// Where the simulator's events, failures and progress go: events to stdout in the chosen
/// format, failures to stderr (and stdout in the machine formats), progress to stderr with -v.
class Console {
public:
    Console(Format format, bool verbose) : format_(format), verbose_(verbose) {}

    void emit(const Record& record) const;
    void fault(const Record& record) const;
    void warn(const std::string& text) const;
    void note(const char* format, ...) const __attribute__((format(printf, 2, 3)));

private:
    Format format_;
    bool verbose_;
};

/// `value` with `decimals` digits after the point.
std::string fixed(double value, int decimals);

} // namespace cardsim
