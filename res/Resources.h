#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures of the three windows, drawn for Torvane (see res/README.md).
namespace res {

/// The application icon: 32 x 32 and 16 x 16.
QIcon appIcon();
/// The application icon's 32 x 32 image, as the settings dialog shows it.
QPixmap appIcon32();
/// The card picture of the main window, 32 x 32.
QPixmap cardPicture();
/// Animation frame i (0 to 11), 64 x 32; a null pixmap for any other i.
QPixmap animationFrame(int i);
/// The browser window's button images, 32 x 32 each.
QIcon backIcon();
QIcon forwardIcon();
QIcon refreshIcon();

} // namespace res
