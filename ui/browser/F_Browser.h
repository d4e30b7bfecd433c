#pragma once

#include "BrowserBehaviour.h"
#include "WebView.h"

#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QTimer;
namespace Ui {
class F_Browser;
}

/// The built-in browser window: the card's web pages, a history of the addresses handed to
/// it, back, forward, refresh and close, and its title as the only status display. There is
/// one instance at most; it is created on first use and destroyed when it is closed.
/// It answers what the card's pages ask: a login box, a question on a certificate that is not
/// trusted, where to save a download (its progress in the title), which file to upload. Logins
/// and certificate decisions are kept in memory only, and only while the window lives.
/// What it does is BrowserBehaviour's; the window draws and forwards.
class F_Browser : public QWidget, private WebViewRequests, private behaviour::BrowserView {
    Q_OBJECT
public:
    using WebViewFactory = std::function<std::unique_ptr<WebView>()>;
    /// Why no web view can be made now, or an empty text.
    using StartCheck = std::function<QString()>;

    /// Why the window cannot open, as a short Japanese sentence for the status line (for
    /// example "ブラウザを起動できません (QtWebEngineProcessが見つかりません)."), or an empty
    /// text when get() can open it. Until it has succeeded once, each call loads the web engine
    /// module if need be and runs the engine's helper process once (some tens of
    /// milliseconds); after a success it costs nothing. Never ends the program; the details
    /// of a failure go to stderr.
    static QString startFailure();
    /// The open window; creates and opens it first when there is none. Call it only when
    /// startFailure() is empty: otherwise it throws FatalError with that reason.
    static F_Browser& get();
    /// The open window, or none.
    static F_Browser* current();
    /// Closes the window if it is open.
    static void unload();
    /// Replaces the web view factory (by default the web engine module) and what
    /// startFailure() asks (by default the module and its helper process; none: never fails).
    static void setWebViewFactory(WebViewFactory factory, StartCheck startCheck = {});

    /// Puts sURL into the history (once) and selects it, starts the busy indicator and
    /// navigates to it. An already open window is not raised.
    void addURL(const QString& sURL);

    ~F_Browser() override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    explicit F_Browser(std::unique_ptr<WebView> webView);

    void Form_Load();
    void Form_Resize();
    void Command1_Click() { close(); }
    void Command2_Click() { WebBrowser1->GoBack(); }
    void Command3_Click() { WebBrowser1->GoForward(); }
    void Command4_Click() { WebBrowser1->Refresh(); }

    void insertEntry(int index, const std::string& text) override;
    void removeEntry(int index) override;
    void selectEntry(int index) override;
    void setButtonEnabled(Button button, bool enabled) override;
    void setTimerInterval(int milliseconds) override;
    void setTitle(const std::string& title) override
    {
        setWindowTitle(QString::fromStdString(title));
    }
    bool navigate(const std::string& url) override;
    bool busy() const override { return WebBrowser1->Busy(); }
    std::string locationURL() const override { return WebBrowser1->LocationURL().toStdString(); }
    std::string locationName() const override { return WebBrowser1->LocationName().toStdString(); }

    std::optional<WebViewCredentials> login(const WebViewLogin& request) override;
    bool acceptCertificate(const WebViewCertificate& certificate) override;
    QString downloadPath(const QString& suggestedName) override;
    void downloadProgress(qint64 received, qint64 total) override;
    void downloadFinished(bool ok, const QString& path, const QString& reason) override;
    QStringList chooseFiles(bool multiple, const QStringList& acceptedTypes) override;

    QSize outerSize() const;
    void setOuterSize(QSize px);
    void adoptFrameMargins();
    void keepMinimumSize();

    // First, so that it outlives the web view and whatever the view says while it goes.
    behaviour::BrowserBehaviour m_behaviour{*this};
    std::unique_ptr<Ui::F_Browser> ui;
    std::unique_ptr<WebView> WebBrowser1;
    QTimer* Timer1;
    // The outer size asked for while the window manager had not yet framed the window, and
    // the frame it was computed with; applied again once the real frame is known.
    std::optional<QSize> m_outerRequest;
    QSize m_frameUsed;

    static F_Browser* s_instance;
};
