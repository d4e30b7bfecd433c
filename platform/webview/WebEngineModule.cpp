// The web view on Qt WebEngine. Built as a module of its own and loaded on first use, because
// merely linking Qt WebEngine costs the program start-up time and memory even when the
// browser window never opens.

#include "WebViewEngine.h"

#include <QAction>
#include <QObject>
#include <QOpenGLContext>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <array>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace QtWebEngineCore {
// The engine's own set-up of the OpenGL context it shares with Qt Quick. Qt runs it at start
// when the engine is linked to the program; a module loaded later must run it itself.
Q_DECL_IMPORT void initialize();
} // namespace QtWebEngineCore

namespace {

// The engine needs a global shared OpenGL context. Having the program set
// Qt::AA_ShareOpenGLContexts before the application object exists would create it at every
// start, which costs as much as linking the engine; no OpenGL context exists before the
// browser window opens, so creating it here, on first use, is as good.
void shareOpenGLContexts()
{
    if (!QOpenGLContext::globalShareContext()) {
        const EngineSetUpMessageFilter quiet;
        QtWebEngineCore::initialize();
    }
}

// Chromium refuses to run its sandbox as root, and the engine then fails to start. Turning
// the sandbox off must happen before the engine's first profile exists.
void allowRunningAsRoot()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    if (geteuid() != 0 || qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") ||
        qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--no-sandbox")) {
        return;
    }
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::fputs("torvane: running as root, so the web view runs without its sandbox\n", stderr);
}

class QtWebEngineView final : public QObject, public WebViewEngine {
public:
    explicit QtWebEngineView(WebViewEvents& events) : m_events(events)
    {
        allowRunningAsRoot();
        shareOpenGLContexts();
        m_view = new QWebEngineView;
        QWebEnginePage* page = m_view->page();
        connect(page, &QWebEnginePage::loadStarted, this, &QtWebEngineView::onLoadStarted);
        connect(page, &QWebEnginePage::loadFinished, this, &QtWebEngineView::onLoadFinished);
        connect(page->action(QWebEnginePage::Forward), &QAction::enabledChanged, this,
                &QtWebEngineView::onForwardChanged);
        connect(page->action(QWebEnginePage::Back), &QAction::enabledChanged, this,
                &QtWebEngineView::onBackChanged);
    }

    ~QtWebEngineView() override
    {
        if (m_view) {
            // No report may reach the program while its side of the seam is going away.
            QWebEnginePage* page = m_view->page();
            page->disconnect(this);
            page->action(QWebEnginePage::Forward)->disconnect(this);
            page->action(QWebEnginePage::Back)->disconnect(this);
            delete m_view.data();
        }
    }

    QWidget* widget() override { return m_view; }

    void navigate(const QString& url) override
    {
        // An address the engine cannot parse is not loaded; the view stays as it is.
        const QUrl parsed(url);
        if (url.isEmpty() || !parsed.isValid()) {
            return;
        }
        m_requested = true;
        m_view->load(parsed);
    }
    // The engine's history actions do nothing when there is no page to go to.
    void goBack() override { m_view->back(); }
    void goForward() override { m_view->forward(); }
    void refresh() override
    {
        if (!m_view->url().isEmpty()) {
            m_view->reload();
        }
    }

    QString locationUrl() const override { return m_view->url().toString(); }
    QString locationName() const override { return m_view->title(); }
    bool busy() const override { return m_requested || m_loading; }

private:
    void onLoadStarted()
    {
        m_requested = false;
        m_loading = true;
        reportHistoryActions();
    }

    void onLoadFinished(bool ok)
    {
        m_requested = false;
        m_loading = false;
        reportHistoryActions();
        m_events.loadFinished(ok, m_view->url().toString());
    }

    void onForwardChanged(bool enabled) { report(1, enabled); }
    void onBackChanged(bool enabled) { report(2, enabled); }

    // The history actions change only on a change, so the first state after a load is
    // reported here too: the window's buttons then follow the engine from the first page on.
    void reportHistoryActions()
    {
        QWebEnginePage* page = m_view->page();
        report(1, page->action(QWebEnginePage::Forward)->isEnabled());
        report(2, page->action(QWebEnginePage::Back)->isEnabled());
    }

    void report(int command, bool enabled)
    {
        std::optional<bool>& last = m_reported[command - 1];
        if (last == enabled) {
            return;
        }
        last = enabled;
        m_events.commandStateChange(command, enabled);
    }

    WebViewEvents& m_events;
    QPointer<QWebEngineView> m_view;
    std::array<std::optional<bool>, 2> m_reported;
    // Between navigate() and the engine's loadStarted the view counts as busy already.
    bool m_requested = false;
    bool m_loading = false;
};

} // namespace

class WebEngineModule final : public QObject, public WebViewEngineFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID WebViewEngineFactory_iid)
    Q_INTERFACES(WebViewEngineFactory)
public:
    std::unique_ptr<WebViewEngine> create(WebViewEvents& events) override
    {
        return std::make_unique<QtWebEngineView>(events);
    }
};

#include "WebEngineModule.moc"
