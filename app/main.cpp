#include "F_Main.h"
#include "FatalError.h"
#include "Fonts.h"
#include "ProgramEnd.h"

#include <QApplication>

namespace {

// No handler catches errors: whatever one throws ends here, in the one report of the program.
class TorvaneApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const FatalError& e) {
            reportFatal(e.number(), e.description(), activeWindow());
        } catch (const std::exception& e) {
            reportFatal(-1, QString::fromLocal8Bit(e.what()), activeWindow());
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    // The web engine, loaded with the browser window later, shares GL contexts with the app.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TorvaneApplication app(argc, argv);
    installFonts();
    try {
        F_Main window;
        window.show();
        return app.exec();
    } catch (const FatalError& e) {
        reportFatal(e.number(), e.description());
    }
    return 1;
}
