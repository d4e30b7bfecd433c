#pragma once

#include "PublicArea.h"

#include <string>
#include <string_view>

/// The ARP command prefix for the platform identifier of the OS version query.
std::string arpCommandPrefix(int platformId);

/// Splits the dotted local address text at its first three dots into four octets. A text with
/// fewer than three dots or a part above 255 cannot be split: throws FatalError.
PublicArea::Octets splitLocalIp(std::string_view text);

/// "a.b.c.d" in decimal without leading zeros.
std::string dottedText(const PublicArea::Octets& octets);
