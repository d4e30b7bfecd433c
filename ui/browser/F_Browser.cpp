#include "F_Browser.h"

#include "Resources.h"
#include "WebView.h"
#include "WebViewLoader.h"
#include "ui_F_Browser.h"

#include <QCloseEvent>
#include <QTimer>

#include <algorithm>

namespace {

// The window definition is in twips; Qt lays out in logical pixels of 15 twips each.
constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips)
{
    return (2 * std::max(twips, 0) + kTwipsPerPixel) / (2 * kTwipsPerPixel);
}
constexpr int twips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

constexpr QSize kOpeningOuterSize{px(12000), px(8500)};
constexpr int kMinOuterWidth = px(6000);
constexpr int kMinOuterHeight = px(5000);
constexpr int kWebViewTop = px(360);
// The history's index is a signed 16-bit number on the platform the window was designed on.
constexpr int kMaxHistory = 32767;
constexpr int kTimer1Interval = 100;

const QString kConnecting = QStringLiteral("接続中...");

F_Browser::WebViewFactory& webViewFactory()
{
    static F_Browser::WebViewFactory factory = [] { return createWebView(); };
    return factory;
}

} // namespace

F_Browser* F_Browser::s_instance = nullptr;

F_Browser& F_Browser::get()
{
    if (!s_instance) {
        // The view comes first: when it cannot be made, no half-built window is left over.
        std::unique_ptr<WebView> view = webViewFactory()();
        s_instance = new F_Browser(std::move(view));
        s_instance->Form_Load();
    }
    return *s_instance;
}

void F_Browser::unload()
{
    if (s_instance) {
        s_instance->close();
    }
}

void F_Browser::setWebViewFactory(WebViewFactory factory)
{
    webViewFactory() = std::move(factory);
}

F_Browser::F_Browser(std::unique_ptr<WebView> webView)
    : ui(std::make_unique<Ui::F_Browser>()), WebBrowser1(std::move(webView)),
      Timer1(new QTimer(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(res::appIcon());
    ui->Command2->setIcon(res::backIcon());
    ui->Command3->setIcon(res::forwardIcon());
    ui->Command4->setIcon(res::refreshIcon());

    QWidget* view = WebBrowser1->widget();
    view->setParent(this);
    view->setGeometry(0, kWebViewTop, px(7440), px(3975));
    // Tab positions: the web view, Command1, Combo1, Command2, Command3, Command4.
    setTabOrder(view, ui->Command1);
    setTabOrder(ui->Command1, ui->Combo1);
    setTabOrder(ui->Combo1, ui->Command2);
    setTabOrder(ui->Command2, ui->Command3);
    setTabOrder(ui->Command3, ui->Command4);
    view->setFocus();

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimer1Interval);

    connect(ui->Combo1, &QComboBox::currentIndexChanged, this, &F_Browser::Combo1_Click);
    connect(ui->Command1, &QPushButton::clicked, this, &F_Browser::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &F_Browser::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &F_Browser::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &F_Browser::Command4_Click);
    connect(Timer1, &QTimer::timeout, this, &F_Browser::Timer1_Timer);
    connect(WebBrowser1.get(), &WebView::CommandStateChange, this,
            &F_Browser::WebBrowser1_CommandStateChange);
    connect(WebBrowser1.get(), &WebView::DownloadComplete, this,
            &F_Browser::WebBrowser1_DownloadComplete);
    connect(WebBrowser1.get(), &WebView::DocumentComplete, this,
            &F_Browser::WebBrowser1_DocumentComplete);
}

F_Browser::~F_Browser()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

void F_Browser::Form_Load()
{
    setOuterSize(kOpeningOuterSize);
    show();
    adoptFrameMargins();
    Form_Resize();
}

void F_Browser::addURL(const QString& sURL)
{
    M_ClickNav = false;
    if (!sURL.isEmpty()) {
        if (!findURL(sURL)) {
            // A full history gives up its oldest entry rather than refusing the new address.
            if (ui->Combo1->count() >= kMaxHistory) {
                ui->Combo1->removeItem(ui->Combo1->count() - 1);
            }
            ui->Combo1->insertItem(0, sURL);
            ui->Combo1->setCurrentIndex(0);
        }
    }
    M_ClickNav = true;
    startTimer1();
    WebBrowser1->Navigate(sURL);
}

bool F_Browser::findURL(const QString& sURL)
{
    const int n = ui->Combo1->count();
    for (int i = 0; i < n; ++i) {
        if (ui->Combo1->itemText(i) == sURL) {
            ui->Combo1->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void F_Browser::Combo1_Click()
{
    if (!M_ClickNav) {
        return;
    }
    startTimer1();
    WebBrowser1->Navigate(ui->Combo1->currentText());
}

void F_Browser::Command1_Click()
{
    close();
}

void F_Browser::Command2_Click()
{
    WebBrowser1->GoBack();
}

void F_Browser::Command3_Click()
{
    WebBrowser1->GoForward();
}

void F_Browser::Command4_Click()
{
    WebBrowser1->Refresh();
}

void F_Browser::Timer1_Timer()
{
    if (WebBrowser1->Busy()) {
        setWindowTitle(kConnecting);
    } else {
        Timer1->stop();
        setWindowTitle(WebBrowser1->LocationName());
    }
}

void F_Browser::WebBrowser1_CommandStateChange(int Command, bool Enable)
{
    switch (Command) {
    case WebView::CscNavigateForward:
        ui->Command3->setEnabled(Enable);
        break;
    case WebView::CscNavigateBack:
        ui->Command2->setEnabled(Enable);
        break;
    default:
        break;
    }
}

void F_Browser::WebBrowser1_DownloadComplete()
{
    Completion();
    Timer1->stop();
    setWindowTitle(WebBrowser1->LocationName());
}

void F_Browser::WebBrowser1_DocumentComplete(const QString& /*URL*/)
{
    Completion();
    setWindowTitle(WebBrowser1->LocationName());
}

// Selects the entry of the page on show, if the history has it. Pages reached inside the
// view (links, back, forward) never enter the history.
void F_Browser::Completion()
{
    M_ClickNav = false;
    const int n = ui->Combo1->count();
    for (int i = 0; i < n; ++i) {
        if (ui->Combo1->itemText(i) == WebBrowser1->LocationURL()) {
            ui->Combo1->setCurrentIndex(i);
            break;
        }
    }
    M_ClickNav = true;
}

void F_Browser::startTimer1()
{
    // An interval of 0 means a timer that does not tick; QTimer would fire continuously.
    if (Timer1->interval() > 0) {
        Timer1->start();
    }
}

void F_Browser::Form_Resize()
{
    // A minimised or maximised window keeps the size the window system gives it.
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QSize outer = outerSize();
        if (outer.width() < kMinOuterWidth) {
            setOuterSize({kMinOuterWidth, outerSize().height()});
        }
        if (outerSize().height() < kMinOuterHeight) {
            setOuterSize({outerSize().width(), kMinOuterHeight});
        }
    }
    WebBrowser1->widget()->setGeometry(0, kWebViewTop, px(twips(width()) - 20),
                                       px(twips(height()) - 380));
}

// The outer size includes the frame and title bar that the window manager adds; the client
// size is what Qt's resize() sets. Without a window manager (offscreen, bare X server) the
// frame is empty and both are the same.
QSize F_Browser::outerSize() const
{
    return frameGeometry().size();
}

void F_Browser::setOuterSize(QSize outer)
{
    const QSize frame = frameGeometry().size() - size();
    resize((outer - frame).expandedTo({1, 1}));
    // Before the window manager has framed the window its frame reads as empty; the size is
    // set again when the frame becomes known.
    if (frame.isEmpty() && !isVisible()) {
        m_outerRequest = outer;
        m_frameUsed = frame;
    }
}

void F_Browser::adoptFrameMargins()
{
    if (!m_outerRequest || !isVisible()) {
        return;
    }
    const QSize frame = frameGeometry().size() - size();
    if (frame != m_frameUsed && !frame.isEmpty()) {
        const QSize outer = *m_outerRequest;
        m_outerRequest.reset();
        setOuterSize(outer);
    }
}

void F_Browser::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    adoptFrameMargins();
    Form_Resize();
}

void F_Browser::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    adoptFrameMargins();
}

void F_Browser::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && s_instance == this) {
        s_instance = nullptr;
    }
}

QString F_Browser::startFailure()
{
    return {};
}
