#pragma once

#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QTimer;
class WebView;
namespace Ui {
class F_Browser;
}

/// The built-in browser window: the card's web pages, a history of the addresses handed to
/// it, back, forward, refresh and close, and its title as the only status display. There is
/// one instance at most; it is created on first use and destroyed when it is closed.
class F_Browser : public QWidget {
    Q_OBJECT
public:
    using WebViewFactory = std::function<std::unique_ptr<WebView>()>;

    /// The open window; creates and opens it first when there is none. Throws FatalError
    /// when the web view cannot be created.
    static F_Browser& get();
    /// Closes the window if it is open.
    static void unload();
    /// Empty when the browser window can open; else why not, for the status text.
    static QString startFailure();
    /// Replaces the web view factory (by default the web engine module).
    static void setWebViewFactory(WebViewFactory factory);

    /// Puts sURL into the history (once) and selects it, starts the busy indicator and
    /// navigates to it. An already open window is not raised.
    void addURL(const QString& sURL);

    ~F_Browser() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    explicit F_Browser(std::unique_ptr<WebView> webView);

    void Form_Load();
    void Form_Resize();
    bool findURL(const QString& sURL);
    void Combo1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Timer1_Timer();
    void WebBrowser1_CommandStateChange(int Command, bool Enable);
    void WebBrowser1_DownloadComplete();
    void WebBrowser1_DocumentComplete(const QString& URL);
    void Completion();
    void startTimer1();

    QSize outerSize() const;
    void setOuterSize(QSize px);
    void adoptFrameMargins();

    std::unique_ptr<Ui::F_Browser> ui;
    std::unique_ptr<WebView> WebBrowser1;
    QTimer* Timer1;
    bool M_ClickNav = false;
    // The outer size asked for while the window manager had not yet framed the window, and
    // the frame it was computed with; applied again once the real frame is known.
    std::optional<QSize> m_outerRequest;
    QSize m_frameUsed;

    static F_Browser* s_instance;
};
