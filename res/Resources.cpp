#include "Resources.h"

#include <QString>

namespace res {

namespace {

constexpr int kFrameCount = 12;

QPixmap load(const QString& name)
{
    return QPixmap(QStringLiteral(":/torvane/images/") + name + QStringLiteral(".xpm"));
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(load(QStringLiteral("appicon32")));
    icon.addPixmap(load(QStringLiteral("appicon16")));
    return icon;
}

QPixmap appIcon32()
{
    return load(QStringLiteral("appicon32"));
}

QPixmap cardPicture()
{
    return load(QStringLiteral("card"));
}

QPixmap animationFrame(int i)
{
    // An index outside the animation yields a null pixmap rather than some other frame.
    if (i < 0 || i >= kFrameCount) {
        return {};
    }
    return load(QStringLiteral("frame%1").arg(i, 2, 10, QLatin1Char('0')));
}

QIcon backIcon()
{
    return QIcon(load(QStringLiteral("back")));
}
QIcon forwardIcon()
{
    return QIcon(load(QStringLiteral("forward")));
}
QIcon refreshIcon()
{
    return QIcon(load(QStringLiteral("refresh")));
}

} // namespace res
