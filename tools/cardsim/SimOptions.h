#pragma once

#include "CardSim.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

/// Exit statuses; the help text and the README list the same.
enum Exit : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitInvalidReply = 4,
    kExitSystem = 5,
};

enum class Format { Text, Kv, Json };

/// Ranges of the time and rate options.
inline constexpr double kMinInterval = 0.01;
inline constexpr double kMaxInterval = 3600;
inline constexpr double kMinSeconds = 0.1; // --timeout, --serve-seconds, --duration
inline constexpr double kMaxSeconds = 86400;
inline constexpr double kMinFloodRate = 1;
inline constexpr double kMaxFloodRate = 1e6;
inline constexpr int kMaxCards = 250;
inline constexpr double kMaxSpread = 3600;

struct Options {
    std::string interface;
    std::optional<Mac> mac;
    std::size_t length = bootp::kMinMessage;
    double interval = 4;
    double timeout = 60;
    int count = 1;
    bool strict = false;
    bool anyLayout = false;

    int cards = 0; // 0: one card on IF itself; N: N cards at once, each on a macvlan of IF
    std::optional<Mac> macBase;
    double spread = 0;

    bool serveHttp = false;
    std::uint16_t httpPort = 80;
    double serveSeconds = 0; // 0: until killed
    std::string httpBasic;   // "user:password" the pages ask for; empty: none
    bool https = false;      // pages over HTTPS on 443, the HTTP port redirecting there

    double floodRate = 0; // 0: no flood
    double floodDuration = 10;
    bool thenCard = false;
    bool floodCards = false; // the flood sends card requests from foreign MACs, not DISCOVERs

    Format format = Format::Text;
    bool verbose = false;
    bool help = false;
};

struct Parsed {
    Options options;
    std::string error; // empty when the command line is usable
};

/// Reads the command line (without the program name). "--name value" and "--name=value" both
/// work.
Parsed parseArgs(const std::vector<std::string_view>& args);

/// The text that --help prints.
const char* usageText();

} // namespace cardsim
