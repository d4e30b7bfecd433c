// The web view on Qt WebEngine. Built as a module of its own and loaded on first use, because
// merely linking Qt WebEngine costs the program start-up time and memory even when the
// browser window never opens.

#include "WebViewEngine.h"

#include <QAction>
#include <QAuthenticator>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QOpenGLContext>
#include <QPointer>
#include <QSslCertificate>
#include <QTimer>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <array>
#include <cstdio>
#include <functional>
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

// The engine reads its locale once, when its first profile is made, from the command line it
// is given; the pages it makes itself (errors, form messages) are then in that language.
void setEngineLocale(const QString& locale)
{
    static bool done = false;
    if (done || locale.isEmpty()) {
        return;
    }
    done = true;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--lang=")) {
        flags += (flags.isEmpty() ? "" : " ") + QByteArray("--lang=") + locale.toLatin1();
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    }
}

QString hostOf(const QUrl& url)
{
    const int port = url.port();
    return port < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(port);
}

WebViewCertificate::Problem problemOf(QWebEngineCertificateError::Type type)
{
    switch (type) {
    case QWebEngineCertificateError::CertificateAuthorityInvalid:
        return WebViewCertificate::Problem::Authority;
    case QWebEngineCertificateError::CertificateCommonNameInvalid:
        return WebViewCertificate::Problem::Name;
    case QWebEngineCertificateError::CertificateDateInvalid:
        return WebViewCertificate::Problem::Date;
    default:
        return WebViewCertificate::Problem::Other;
    }
}

class QtWebEngineView;

// What a page may open in a window of its own: what it could open at the top level itself.
bool webAddress(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

// A page of the view or of one of its pop-ups: new windows and file choosers go to the view.
// A pop-up, opened by a page, follows the rule of new windows: only web addresses.
class CardPage final : public QWebEnginePage {
public:
    CardPage(QWebEngineProfile* profile, QtWebEngineView& owner, QObject* parent,
             bool popup = false)
        : QWebEnginePage(profile, parent), m_owner(owner), m_popup(popup)
    {
    }

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType /*type*/,
                                 bool isMainFrame) override
    {
        return !m_popup || !isMainFrame || webAddress(url) ||
               url == QUrl(QStringLiteral("about:blank"));
    }

private:
    QtWebEngineView& m_owner;
    bool m_popup;
};

// Stands in for a new tab or window that a link (target=_blank) or window.open asks for: it
// hands the address to the view and loads nothing itself, so the page opens in the browser
// window with its history and buttons. Only an http or https address is handed on, as only
// those could the page open at the top level itself; any other (data:, qrc:, file:, about:
// other than the window's own blank start) is dropped without a word. Either way the catcher
// then goes, and so does one opened for about:blank alone.
class NewWindowCatcher final : public QWebEnginePage {
public:
    NewWindowCatcher(QWebEngineProfile* profile, std::function<void(const QUrl&)> open)
        : QWebEnginePage(profile), m_open(std::move(open))
    {
        connect(this, &QWebEnginePage::urlChanged, this, &NewWindowCatcher::take);
        // A window opened for about:blank finishes loading it and asks for nothing more; a
        // script that sets the new window's address just after opening it gets a moment.
        connect(this, &QWebEnginePage::loadFinished, this, [this] {
            if (!m_taken) {
                QTimer::singleShot(kBlankGraceMs, this, [this] {
                    if (!m_taken) {
                        m_taken = true;
                        deleteLater();
                    }
                });
            }
        });
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType /*type*/,
                                 bool isMainFrame) override
    {
        if (isMainFrame) {
            take(url);
        }
        return false;
    }

private:
    void take(const QUrl& url)
    {
        // A new window starts on about:blank before the page it is opened for.
        if (m_taken || url.isEmpty() || url == QUrl(QStringLiteral("about:blank"))) {
            return;
        }
        m_taken = true;
        const bool web = webAddress(url);
        // Outside the engine's call: the view loads and this page goes once it has returned.
        QTimer::singleShot(0, this, [this, url, web] {
            if (web) {
                m_open(url);
            }
            deleteLater();
        });
    }

    static constexpr int kBlankGraceMs = 2000;

    std::function<void(const QUrl&)> m_open;
    bool m_taken = false;
};

class QtWebEngineView final : public QObject, public WebViewEngine {
public:
    QtWebEngineView(WebViewEvents& events, const WebViewSettings& settings) : m_events(events)
    {
        allowRunningAsRoot();
        setEngineLocale(settings.locale);
        shareOpenGLContexts();
        // A profile of the view's own, off the record: logins, certificate decisions and the
        // cache live in memory and go with the window.
        m_profile = new QWebEngineProfile;
        m_profile->setHttpAcceptLanguage(settings.acceptLanguage);
        connect(m_profile, &QWebEngineProfile::downloadRequested, this,
                &QtWebEngineView::onDownloadRequested);

        m_view = new QWebEngineView;
        auto* page = new CardPage(m_profile, *this, m_view);
        watch(page);
        m_view->setPage(page);
        connect(page, &QWebEnginePage::loadStarted, this, &QtWebEngineView::onLoadStarted);
        connect(page, &QWebEnginePage::loadFinished, this, &QtWebEngineView::onLoadFinished);
        connect(page->action(QWebEnginePage::Forward), &QAction::enabledChanged, this,
                &QtWebEngineView::onForwardChanged);
        connect(page->action(QWebEnginePage::Back), &QAction::enabledChanged, this,
                &QtWebEngineView::onBackChanged);
    }

    ~QtWebEngineView() override
    {
        // No report may reach the program while its side of the seam is going away.
        for (QWebEngineDownloadRequest* download : m_downloads) {
            if (download) {
                download->disconnect(this);
                download->cancel();
            }
        }
        m_profile->disconnect(this);
        for (QWidget* popup : m_popups) {
            if (popup) {
                popup->findChild<QWebEngineView*>()->page()->disconnect(this);
                delete popup;
            }
        }
        if (m_view) {
            QWebEnginePage* page = m_view->page();
            page->disconnect(this);
            page->action(QWebEnginePage::Forward)->disconnect(this);
            page->action(QWebEnginePage::Back)->disconnect(this);
            delete m_view.data();
        }
        // The pages are gone; the profile may go after them.
        for (QWebEnginePage* catcher : m_profile->findChildren<QWebEnginePage*>()) {
            delete catcher;
        }
        delete m_profile;
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

    // A link with target=_blank and window.open open in the view itself; a pop-up that asks for
    // a size of its own gets a plain window of that size.
    QWebEnginePage* createWindow(QWebEnginePage::WebWindowType type)
    {
        if (type == QWebEnginePage::WebDialog) {
            return openPopup();
        }
        auto* catcher = new NewWindowCatcher(m_profile, [this](const QUrl& url) {
            if (m_view) {
                m_requested = true;
                m_view->load(url);
            }
        });
        catcher->setParent(m_profile);
        return catcher;
    }

    QStringList chooseFiles(bool multiple, const QStringList& acceptedTypes)
    {
        return m_events.chooseFiles(multiple, acceptedTypes);
    }

private:
    // Every page of the view, pop-ups included, asks the window for logins and certificates.
    void watch(QWebEnginePage* page)
    {
        connect(page, &QWebEnginePage::authenticationRequired, this,
                [this](const QUrl& url, QAuthenticator* authenticator) {
                    login({hostOf(url), authenticator->realm(), false}, authenticator);
                });
        connect(page, &QWebEnginePage::proxyAuthenticationRequired, this,
                [this](const QUrl& /*url*/, QAuthenticator* authenticator, const QString& proxy) {
                    login({proxy, authenticator->realm(), true}, authenticator);
                });
        connect(page, &QWebEnginePage::certificateError, this,
                &QtWebEngineView::onCertificateError);
    }

    void login(const WebViewLogin& request, QAuthenticator* authenticator)
    {
        const std::optional<WebViewCredentials> answer = m_events.login(request);
        if (answer) {
            authenticator->setUser(answer->user);
            authenticator->setPassword(answer->password);
        } else {
            // A null authenticator cancels: the server's own answer (its 401 page) shows.
            *authenticator = QAuthenticator();
        }
    }

    void onCertificateError(QWebEngineCertificateError error)
    {
        // Not overridable (a revoked certificate, a pinned host): the engine's page only.
        if (!error.isOverridable()) {
            error.rejectCertificate();
            return;
        }
        WebViewCertificate certificate;
        certificate.host = error.url().host();
        certificate.problem = problemOf(error.type());
        certificate.description = error.description();
        const QList<QSslCertificate> chain = error.certificateChain();
        if (!chain.isEmpty()) {
            certificate.sha256 =
                QString::fromLatin1(chain.first().digest(QCryptographicHash::Sha256).toHex(':'))
                    .toUpper();
            certificate.notBefore = chain.first().effectiveDate();
            certificate.notAfter = chain.first().expiryDate();
        }
        if (certificate.sha256.isEmpty()) {
            error.rejectCertificate(); // nothing the operator could check
            return;
        }
        // The question is asked outside the engine's call, which waits for the answer. The
        // engine may meet the same certificate on several connections at once: one question
        // answers them all.
        error.defer();
        const QString key = certificate.host + u'\n' + certificate.sha256;
        auto pending = m_certificateQuestions.find(key);
        if (pending != m_certificateQuestions.end()) {
            pending->append(error);
            return;
        }
        m_certificateQuestions.insert(key, {error});
        QTimer::singleShot(0, this, [this, key, certificate] {
            const bool accepted = m_events.acceptCertificate(certificate);
            for (QWebEngineCertificateError& waiting : m_certificateQuestions.take(key)) {
                if (accepted) {
                    waiting.acceptCertificate();
                } else {
                    waiting.rejectCertificate();
                }
            }
        });
    }

    QWebEnginePage* openPopup()
    {
        auto* window = new QWidget(m_view ? m_view->window() : nullptr, Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto* view = new QWebEngineView(window);
        auto* page = new CardPage(m_profile, *this, view, true);
        view->setPage(page);
        watch(page);
        connect(page, &QWebEnginePage::geometryChangeRequested, window, [window, view](QRect r) {
            view->setGeometry(0, 0, r.width(), r.height());
            window->resize(r.size());
        });
        connect(page, &QWebEnginePage::titleChanged, window, &QWidget::setWindowTitle);
        connect(page, &QWebEnginePage::windowCloseRequested, window, &QWidget::close);
        window->resize(400, 300);
        view->resize(window->size());
        window->show();
        m_popups << window;
        return page;
    }

    void onDownloadRequested(QWebEngineDownloadRequest* download)
    {
        const QString path = m_events.downloadPath(download->suggestedFileName());
        if (path.isEmpty()) {
            download->cancel();
            return;
        }
        const QFileInfo target(path);
        download->setDownloadDirectory(target.absolutePath());
        download->setDownloadFileName(target.fileName());
        connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this, [this, download] {
            m_events.downloadProgress(download->receivedBytes(), download->totalBytes());
        });
        connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, download] {
            if (!download->isFinished()) {
                return;
            }
            m_downloads.removeAll(download);
            download->disconnect(this);
            const bool ok = download->state() == QWebEngineDownloadRequest::DownloadCompleted;
            m_events.downloadFinished(
                ok, QDir(download->downloadDirectory()).filePath(download->downloadFileName()),
                ok ? QString() : download->interruptReasonString());
        });
        m_downloads << download;
        download->accept();
    }

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
    QWebEngineProfile* m_profile = nullptr;
    QPointer<QWebEngineView> m_view;
    QList<QPointer<QWidget>> m_popups;
    QList<QPointer<QWebEngineDownloadRequest>> m_downloads;
    // Certificate errors waiting for the operator's answer, by host and fingerprint.
    QHash<QString, QList<QWebEngineCertificateError>> m_certificateQuestions;
    std::array<std::optional<bool>, 2> m_reported;
    // Between navigate() and the engine's loadStarted the view counts as busy already.
    bool m_requested = false;
    bool m_loading = false;
};

QWebEnginePage* CardPage::createWindow(WebWindowType type)
{
    return m_owner.createWindow(type);
}

QStringList CardPage::chooseFiles(FileSelectionMode mode, const QStringList& /*oldFiles*/,
                                  const QStringList& acceptedMimeTypes)
{
    return m_owner.chooseFiles(mode == FileSelectOpenMultiple, acceptedMimeTypes);
}

} // namespace

class WebEngineModule final : public QObject, public WebViewEngineFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID WebViewEngineFactory_iid)
    Q_INTERFACES(WebViewEngineFactory)
public:
    std::unique_ptr<WebViewEngine> create(WebViewEvents& events,
                                          const WebViewSettings& settings) override
    {
        return std::make_unique<QtWebEngineView>(events, settings);
    }
};

#include "WebEngineModule.moc"
