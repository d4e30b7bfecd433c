#include "F_Main.h"
#include "FatalError.h"
#include "Fonts.h"
#include "ProgramEnd.h"
#include "Texts.h"
#include "Translations.h"
#include "linux/DisplaySession.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

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
            reportFatal(e.number(), QString::fromStdString(e.description()), activeWindow());
        } catch (const std::exception& e) {
            reportFatal(-1, QString::fromLocal8Bit(e.what()), activeWindow());
        }
        return false;
    }
};

const char kUsage[] =
    "Usage: torvane [--help | --version]\n"
    "\n"
    "Gives a factory-fresh Web/SNMP card its first IPv4 address. Click Start: Torvane listens\n"
    "for the card's BOOTP request on UDP port 67, shows its MAC address, asks for address,\n"
    "subnet mask and gateway, broadcasts the reply, adds a static neighbour entry and opens\n"
    "the card's web page.\n"
    "\n"
    "Runs as the operator's own user, who must be in the group torvane:\n"
    "  sudo usermod -aG torvane $USER    (then log in again)\n"
    "The privileged network work is done by the helper torvane-helper.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("torvane %s\n", TORVANE_VERSION);
            return 0;
        }
        // Single-dash options (-platform, -style, ...) belong to Qt.
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "torvane: unknown option %s\n\n%s", argv[i], kUsage);
            return 2;
        }
    }
    // Japanese on a Japanese or C/POSIX desktop, English on any other.
    text::setLanguage(text::languageFromEnvironment());
    if (const int status = display::prepare(); status != 0) {
        return status;
    }
    // Qt::AA_ShareOpenGLContexts is not set here: it costs an OpenGL context at every start.
    // The web engine module sets up its shared context itself when the browser first opens.
    FontWarmUp fonts;
    display::guardStart();
    TorvaneApplication app(argc, argv);
    display::endGuard();
    installFonts();
    installQtTranslations(app);
    fonts.wait();
    try {
        F_Main window;
        window.show();
        return app.exec();
    } catch (const FatalError& e) {
        reportFatal(e.number(), QString::fromStdString(e.description()));
    }
    return 1;
}
