#include "DisplaySession.h"

#include "Twin.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace display {

namespace {

bool set(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Where Qt looks for its platform plugins: the folder named by QT_QPA_PLATFORM_PLUGIN_PATH,
// the platforms folder of every QT_PLUGIN_PATH entry and of Qt's own plugin folder.
bool waylandPluginInstalled()
{
    QStringList folders;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM_PLUGIN_PATH")) {
        folders << qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    }
    for (const QString& entry :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
        folders << entry + QStringLiteral("/platforms");
    }
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    for (const QString& folder : folders) {
        if (!QDir(folder).entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty()) {
            return true;
        }
    }
    return false;
}

void say(const text::Twin& what)
{
    std::fprintf(stderr, "torvane: %s\n", what.local().c_str());
    if (text::language() != text::Lang::English) {
        std::fprintf(stderr, "torvane: %s\n", what.english.c_str());
    }
}

std::string g_tried;
QtMessageHandler g_previous = nullptr;

void onStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (g_previous != nullptr) {
            g_previous(type, context, message);
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(message));
        }
        return;
    }
    // Qt's own sentence here advises reinstalling the application, which never helps.
    say(text::twin(text::Id::DisplayFailed, {g_tried}));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

Session currentSession()
{
    Session s;
    s.platformSet = set("QT_QPA_PLATFORM");
    s.x = set("DISPLAY");
    s.wayland = set("WAYLAND_DISPLAY");
    s.waylandPlugin = s.wayland && waylandPluginInstalled();
    return s;
}

Choice choose(const Session& s)
{
    if (s.platformSet) {
        return {};
    }
    if (s.x) {
        return {s.wayland && s.waylandPlugin ? "xcb;wayland" : "xcb", std::nullopt};
    }
    if (s.wayland) {
        if (!s.waylandPlugin) {
            return {{}, text::Id::DisplayNeedsWayland};
        }
        return {"wayland", std::nullopt};
    }
    return {{}, text::Id::DisplayNone};
}

int prepare()
{
    const Choice choice = choose(currentSession());
    if (choice.failure) {
        say(text::twin(*choice.failure));
        return 1;
    }
    if (!choice.platforms.empty()) {
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(choice.platforms));
    }
    // The displays as the operator knows them, for the words if none can be reached.
    g_tried.clear();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (set(name)) {
            g_tried += (g_tried.empty() ? "" : ", ") + std::string(name) + "=" + std::getenv(name);
        }
    }
    if (g_tried.empty()) {
        g_tried = "QT_QPA_PLATFORM=" + qgetenv("QT_QPA_PLATFORM").toStdString();
    }
    return 0;
}

void guardStart()
{
    g_previous = qInstallMessageHandler(&onStartMessage);
}

void endGuard()
{
    qInstallMessageHandler(g_previous);
}

} // namespace display
