#include "SearchRules.h"

#include "FatalError.h"
#include "OsVersion.h"

QString arpCommandPrefix(int platformId)
{
    if (platformId == kPlatformWindowsNt) {
        return QStringLiteral("cmd /c arp -s ");
    }
    // On Linux the entry is written through rtnetlink; the prefix names the equivalent
    // command in what Torvane reports about it.
    if (platformId == kPlatformLinux) {
        return QStringLiteral("arp -s ");
    }
    return QStringLiteral("command.com /c arp -s ");
}

namespace {

constexpr int kInvalidCall = 5;
constexpr int kOverflow = 6;

// The number formed by the leading digits of a part (blanks skipped); an empty part is 0.
std::uint8_t octetOf(const QString& part, const QString& whole)
{
    int value = 0;
    for (const QChar c : part) {
        if (c == QLatin1Char(' ')) {
            continue;
        }
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            break;
        }
        value = value * 10 + (c.unicode() - '0');
        if (value > 255) {
            throw FatalError(kOverflow,
                             QStringLiteral("Overflow: a part of the local address \"%1\" is "
                                            "above 255")
                                 .arg(whole));
        }
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

PublicArea::Octets splitLocalIp(const QString& s)
{
    const auto noDot = [&s] {
        return FatalError(kInvalidCall,
                          QStringLiteral("Invalid procedure call: the local address \"%1\" has "
                                         "fewer than three dots")
                              .arg(s));
    };
    const qsizetype p1 = s.indexOf(QLatin1Char('.'));
    if (p1 < 0) {
        throw noDot();
    }
    const qsizetype p2 = s.indexOf(QLatin1Char('.'), p1 + 1);
    if (p2 < 0) {
        throw noDot();
    }
    const QString r = s.mid(p2 + 1);
    const qsizetype p3 = r.indexOf(QLatin1Char('.'));
    if (p3 < 0) {
        throw noDot();
    }
    return {octetOf(s.left(p1), s), octetOf(s.mid(p1 + 1, p2 - p1 - 1), s), octetOf(r.left(p3), s),
            octetOf(r.mid(p3 + 1), s)};
}

QString dottedText(const PublicArea::Octets& o)
{
    return QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]);
}
