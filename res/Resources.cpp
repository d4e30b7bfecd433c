#include "Resources.h"

// Placeholder pictures until the drawn ones land.
namespace res {

namespace {
QPixmap blank(int w, int h)
{
    QPixmap p(w, h);
    p.fill(Qt::transparent);
    return p;
}
} // namespace

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(blank(32, 32));
    icon.addPixmap(blank(16, 16));
    return icon;
}
QPixmap appIcon32() { return blank(32, 32); }
QPixmap cardPicture() { return blank(32, 32); }
QPixmap animationFrame(int) { return blank(64, 32); }
QIcon backIcon() { return QIcon(blank(32, 32)); }
QIcon forwardIcon() { return QIcon(blank(32, 32)); }
QIcon refreshIcon() { return QIcon(blank(32, 32)); }

} // namespace res
