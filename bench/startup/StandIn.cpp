// A stand-in for the program's start: one window with a Japanese label, shown at once.
// Built several ways to compare what linking costs before anything is used.

#include <QApplication>
#include <QLabel>

#ifdef STANDIN_BROWSER_LIBRARY
#include "F_Browser.h"
#endif
#if defined(STANDIN_BROWSER_LIBRARY) || defined(STANDIN_FONTS)
#include "Fonts.h"
#endif

int main(int argc, char** argv)
{
#ifdef STANDIN_SHARE_CONTEXTS
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
    QApplication app(argc, argv);
#if defined(STANDIN_BROWSER_LIBRARY) || defined(STANDIN_FONTS)
    installFonts();
#endif
    QLabel label(QStringLiteral("Web/SNMPカード検索中..."));
    label.resize(330, 145);
    label.show();
    const int status = app.exec();
#ifdef STANDIN_BROWSER_LIBRARY
    F_Browser::unload();
#endif
    return status;
}
