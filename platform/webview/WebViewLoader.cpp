#include "WebViewLoader.h"

#include "FatalError.h"
#include "Texts.h"
#include "WebViewEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace {

const QString kModuleName = QStringLiteral(TORVANE_WEBENGINE_MODULE_NAME);
const QString kProcessName = QStringLiteral("QtWebEngineProcess");
constexpr int kProcessProbeMs = 5000;

// The operator's text for a browser that cannot start, with the cause in the same language.
QString cannotStart(text::Id why, const QString& name = {})
{
    const std::string cause = text::format(why, {name.toStdString()});
    return QString::fromStdString(text::format(text::Id::BrowserCannotStart, {cause}));
}

// The engine's pages and the Accept-Language header follow the language of the windows.
WebViewSettings viewSettings()
{
    if (text::language() == text::Lang::Japanese) {
        return {QStringLiteral("ja"), QStringLiteral("ja,en;q=0.8")};
    }
    return {QStringLiteral("en-US"), QStringLiteral("en-US,en;q=0.9")};
}

// Holds the module's view and turns its reports into the seam's signals; its requests go to
// the window, and without a window they are refused.
class EngineWebView final : public WebView, private WebViewEvents {
public:
    explicit EngineWebView(WebViewEngineFactory& factory)
        : m_engine(factory.create(*this, viewSettings()))
    {
    }

    QWidget* widget() override { return m_engine->widget(); }
    void Navigate(const QString& url) override { m_engine->navigate(url); }
    void GoBack() override { m_engine->goBack(); }
    void GoForward() override { m_engine->goForward(); }
    void Refresh() override { m_engine->refresh(); }
    QString LocationURL() const override { return m_engine->locationUrl(); }
    QString LocationName() const override { return m_engine->locationName(); }
    bool Busy() const override { return m_engine->busy(); }

private:
    void commandStateChange(int command, bool enable) override
    {
        emit CommandStateChange(command, enable);
    }
    void loadFinished(bool ok, const QString& url) override
    {
        emit DownloadComplete();
        if (ok) {
            emit DocumentComplete(url);
        }
    }
    std::optional<WebViewCredentials> login(const WebViewLogin& request) override
    {
        return requests() ? requests()->login(request) : std::nullopt;
    }
    bool acceptCertificate(const WebViewCertificate& certificate) override
    {
        return requests() && requests()->acceptCertificate(certificate);
    }
    QString downloadPath(const QString& suggestedName) override
    {
        return requests() ? requests()->downloadPath(suggestedName) : QString();
    }
    void downloadProgress(qint64 received, qint64 total) override
    {
        if (requests()) {
            requests()->downloadProgress(received, total);
        }
    }
    void downloadFinished(bool ok, const QString& path, const QString& reason) override
    {
        if (requests()) {
            requests()->downloadFinished(ok, path, reason);
        }
    }
    QStringList chooseFiles(bool multiple, const QStringList& acceptedTypes) override
    {
        return requests() ? requests()->chooseFiles(multiple, acceptedTypes) : QStringList();
    }

    std::unique_ptr<WebViewEngine> m_engine;
};

QStringList& moduleDirs()
{
    static QStringList dirs = webViewModuleDirs();
    return dirs;
}

WebViewEngineFactory*& loadedFactory()
{
    static WebViewEngineFactory* factory = nullptr;
    return factory;
}

} // namespace

QStringList webViewModuleDirs()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    QStringList dirs{exeDir,
                     QDir::cleanPath(exeDir + QStringLiteral("/" TORVANE_MODULE_DIR_FROM_BINDIR))};
    dirs.removeDuplicates();
    return dirs;
}

void setWebViewModuleDirs(const QStringList& dirs)
{
    moduleDirs() = dirs;
}

WebViewModule loadWebViewModule(const QStringList& dirs)
{
    QStringList reasons;
    for (const QString& dir : dirs) {
        const QString path = QDir(dir).filePath(kModuleName);
        if (!QFileInfo::exists(path)) {
            continue;
        }
        // The loader is never unloaded: the web engine cannot be torn down and started again
        // in one process.
        auto* loader = new QPluginLoader(path);
        const EngineSetUpMessageFilter quiet;
        QObject* instance = loader->instance();
        if (auto* factory = qobject_cast<WebViewEngineFactory*>(instance)) {
            return {factory, {}};
        }
        reasons << (instance ? QStringLiteral("%1: not the web view module").arg(path)
                             : QStringLiteral("%1: %2").arg(path, loader->errorString()));
        delete loader;
    }
    if (reasons.isEmpty()) {
        reasons << QStringLiteral("%1 was found in none of %2")
                       .arg(kModuleName, dirs.join(QStringLiteral(", ")));
    }
    return {nullptr, QStringLiteral("The web view module cannot be loaded. %1")
                         .arg(reasons.join(QStringLiteral("; ")))};
}

HelperProcessCheck checkWebEngineProcess()
{
    // The engine ends the program when it finds no helper, and Chromium does when the helper
    // it found does not run; both are found out here first, the way the engine looks.
    QStringList candidates;
    const QString fromEnv = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (!fromEnv.isEmpty()) {
        candidates << fromEnv;
    } else {
        for (const auto location :
             {QLibraryInfo::LibraryExecutablesPath, QLibraryInfo::BinariesPath}) {
            candidates << QLibraryInfo::path(location) + u'/' + kProcessName;
        }
        candidates << QCoreApplication::applicationDirPath() + u'/' + kProcessName;
    }
    const auto found = std::find_if(candidates.cbegin(), candidates.cend(),
                                    [](const QString& c) { return QFileInfo::exists(c); });
    if (found == candidates.cend()) {
        return {{},
                QStringLiteral("the web engine's helper process is in none of %1")
                    .arg(candidates.join(QStringLiteral(", "))),
                cannotStart(text::Id::BrowserProcessMissing, kProcessName)};
    }
    const QString path = *found;
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable()) {
        return {path, QStringLiteral("%1 is not an executable file").arg(path),
                cannotStart(text::Id::BrowserProcessNotExecutable, kProcessName)};
    }

    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(path, {});
    QString failure;
    if (!probe.waitForStarted(kProcessProbeMs)) {
        failure = QStringLiteral("%1 cannot be run: %2").arg(path, probe.errorString());
    } else if (!probe.waitForFinished(kProcessProbeMs)) {
        probe.kill();
        probe.waitForFinished(kProcessProbeMs);
        failure = QStringLiteral("%1 did not end within %2 s when asked for its version")
                      .arg(path)
                      .arg(kProcessProbeMs / 1000);
    } else if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(probe.readAll()).trimmed();
        failure = QStringLiteral("%1 failed when asked for its version (%2)%3")
                      .arg(path,
                           probe.exitStatus() == QProcess::NormalExit
                               ? QStringLiteral("exit status %1").arg(probe.exitCode())
                               : QStringLiteral("crashed"),
                           output.isEmpty() ? QString() : QStringLiteral(": ") + output);
    }
    if (!failure.isEmpty()) {
        return {path, failure, cannotStart(text::Id::BrowserProcessFails, kProcessName)};
    }
    return {path, {}, {}};
}

QString webViewStartFailure()
{
    static bool processRuns = false;
    if (loadedFactory() == nullptr) {
        const WebViewModule module = loadWebViewModule(moduleDirs());
        if (module.factory == nullptr) {
            std::fprintf(stderr, "torvane: the browser window cannot open: %s\n",
                         qPrintable(module.failure));
            return cannotStart(text::Id::BrowserModuleMissing);
        }
        loadedFactory() = module.factory;
    }
    if (!processRuns) {
        const HelperProcessCheck check = checkWebEngineProcess();
        if (!check.failure.isEmpty()) {
            std::fprintf(stderr, "torvane: the browser window cannot open: %s\n",
                         qPrintable(check.failure));
            return check.shortText;
        }
        processRuns = true;
    }
    return {};
}

std::unique_ptr<WebView> createWebView()
{
    if (const QString failure = webViewStartFailure(); !failure.isEmpty()) {
        throw FatalError(kCannotCreateObject, failure);
    }
    return std::make_unique<EngineWebView>(*loadedFactory());
}
