#pragma once

#include "PublicArea.h"

#include <QString>

/// The ARP command prefix for the platform identifier of the OS version query.
QString arpCommandPrefix(int platformId);

/// Splits the dotted local address text at its first three dots into four octets. A text with
/// fewer than three dots or a part above 255 cannot be split: throws FatalError.
PublicArea::Octets splitLocalIp(const QString& text);

/// "a.b.c.d" in decimal without leading zeros.
QString dottedText(const PublicArea::Octets& octets);
