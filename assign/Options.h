#pragma once

#include "Twin.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace assign {

/// Exit statuses; --help, the man page and the README list the same.
enum Exit : int {
    kExitOk = 0,      ///< every card waited for was assigned (and answered, unless --confirm none)
    kExitFailed = 1,  ///< a card was refused, did not answer, or the helper failed during the run
    kExitUsage = 2,   ///< bad command line or input file; nothing was sent
    kExitTimeout = 3, ///< --timeout passed with cards still missing
    kExitHelper = 4,  ///< the helper could not be started or could not bind UDP port 67
    kExitSignal = 128 ///< plus the signal's number: stopped by SIGINT or SIGTERM
};

enum class Format { Text, Json };

/// Caps on what is printed, so that a rack of thousands of cards gives readable output.
inline constexpr std::size_t kMaxErrorsShown = 20;
inline constexpr std::size_t kMaxListed = 20;

struct Options {
    // one card
    std::string mac;
    std::string ip;
    // many cards
    std::string list;
    std::string pool;
    std::string record;
    std::optional<long> count;
    // shared by the one card and the pool
    std::string mask;
    std::string gateway;

    std::string interface;
    bool confirm = true;
    double confirmTimeout = 60;
    std::optional<double> timeout; ///< none: no overall deadline
    double probeWait = 1;
    /// Reach a card outside the interface's networks through a temporary address of its
    /// subnet for the page check.
    bool temporaryAddress = false;
    Format format = Format::Text;
    std::string helper;       ///< empty: beside the program or in ../libexec/torvane
    bool dryRun = false;      ///< check and print the plan; start no helper, send nothing
    std::string exportFormat; ///< "dnsmasq" or "kea": print the record as their configuration
    bool help = false;
    bool version = false;
};

struct Parsed {
    Options options;
    text::Twin error; ///< empty when the command line is usable
};

/// One option as --help lists it and parseArgs knows it: an option with a value placeholder
/// takes a value.
struct OptionHelp {
    enum class Group { Cards, Options };
    Group group;
    std::string_view name;  ///< "--mac"
    std::string_view alias; ///< "-h" for --help, else empty
    std::string_view value; ///< "MAC"; empty for a switch
    text::Id description;
};

/// Every option, in the order --help lists them.
std::span<const OptionHelp> optionTable();

/// Reads the command line (without the program name); "--name value" and "--name=value" both
/// work. Checks which options go together; the values themselves are checked by Plan.
Parsed parseArgs(const std::vector<std::string_view>& args);

/// The text that --help prints, in the language given or the process's.
std::string usageText(text::Lang lang);
std::string usageText();

} // namespace assign
