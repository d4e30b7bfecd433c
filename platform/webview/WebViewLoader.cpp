#include "WebViewLoader.h"

#include "FatalError.h"
#include "WebViewEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

namespace {

/// "ActiveX component can't create object": the number the window system gives a web view
/// that cannot be created.
constexpr int kCannotCreateObject = 429;

const QString kModuleName = QStringLiteral(TORVANE_WEBENGINE_MODULE_NAME);

// Holds the module's view and turns its reports into the seam's signals.
class EngineWebView final : public WebView, private WebViewEvents {
public:
    explicit EngineWebView(WebViewEngineFactory& factory) : m_engine(factory.create(*this)) {}

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

    std::unique_ptr<WebViewEngine> m_engine;
};

} // namespace

QStringList webViewModuleDirs()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    QStringList dirs{
        exeDir, QDir::cleanPath(exeDir + QStringLiteral("/../" TORVANE_INSTALL_LIBDIR "/torvane")),
        QStringLiteral(TORVANE_WEBENGINE_BUILD_DIR), QStringLiteral(TORVANE_WEBENGINE_INSTALL_DIR)};
    dirs.removeDuplicates();
    return dirs;
}

WebViewEngineFactory& loadWebViewModule(const QStringList& dirs)
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
            return *factory;
        }
        reasons << (instance ? QStringLiteral("%1: not the web view module").arg(path)
                             : QStringLiteral("%1: %2").arg(path, loader->errorString()));
        delete loader;
    }
    if (reasons.isEmpty()) {
        reasons << QStringLiteral("%1 was found in none of %2")
                       .arg(kModuleName, dirs.join(QStringLiteral(", ")));
    }
    throw FatalError(kCannotCreateObject,
                     QStringLiteral("The web view module cannot be loaded, so the browser "
                                    "window cannot open. %1")
                         .arg(reasons.join(QStringLiteral("; "))));
}

std::unique_ptr<WebView> createWebView()
{
    static WebViewEngineFactory* factory = nullptr;
    if (!factory) {
        factory = &loadWebViewModule(webViewModuleDirs());
    }
    return std::make_unique<EngineWebView>(*factory);
}
