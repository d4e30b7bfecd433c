#pragma once

#include "PublicArea.h"

#include <string>
#include <string_view>

/// Splits the dotted local address text at its first three dots into four octets. A text with
/// fewer than three dots or a part above 255 cannot be split: throws FatalError.
behaviour::Octets splitLocalIp(std::string_view text);

/// "a.b.c.d" in decimal without leading zeros.
std::string dottedText(const behaviour::Octets& octets);

/// Whether this PC's address on the card's interface gives the dialog its first three octets:
/// not when there is none (0.0.0.0), nor when it is link-local (169.254.0.0/16), a network no
/// card is given an address of.
bool proposesNetwork(const behaviour::Octets& local);
