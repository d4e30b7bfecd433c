#include "F_Browser.h"

#include "BrowserRules.h"
#include "BrowserTexts.h"
#include "F_Login.h"
#include "FatalError.h"
#include "Resources.h"
#include "WebView.h"
#include "WebViewLoader.h"
#include "ui_F_Browser.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

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
constexpr int kTimer1Interval = 100;

const QString kConnecting = QStringLiteral("接続中...");
// What the window system gets for an empty title. Qt hands it the program's name instead of
// nothing; a zero-width space is a title that shows nothing.
const QString kBlankTitle = QString(QChar(0x200B));
const QString kDateFormat = QStringLiteral("yyyy/MM/dd HH:mm");

using browsertext::format;

F_Browser::WebViewFactory& webViewFactory()
{
    static F_Browser::WebViewFactory factory = [] { return createWebView(); };
    return factory;
}

F_Browser::StartCheck& startCheck()
{
    static F_Browser::StartCheck check = [] { return webViewStartFailure(); };
    return check;
}

bool& startChecked()
{
    static bool ok = false;
    return ok;
}

} // namespace

F_Browser* F_Browser::s_instance = nullptr;

QString F_Browser::startFailure()
{
    if (startChecked()) {
        return {};
    }
    QString failure = startCheck() ? startCheck()() : QString();
    startChecked() = failure.isEmpty();
    return failure;
}

F_Browser& F_Browser::get()
{
    if (!s_instance) {
        if (const QString failure = startFailure(); !failure.isEmpty()) {
            throw FatalError(kCannotCreateObject, failure);
        }
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

void F_Browser::setWebViewFactory(WebViewFactory factory, StartCheck check)
{
    webViewFactory() = std::move(factory);
    startCheck() = std::move(check);
    startChecked() = false;
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
    WebBrowser1->setRequests(this);
}

F_Browser::~F_Browser()
{
    WebBrowser1->setRequests(nullptr);
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
            if (ui->Combo1->count() >= behaviour::kMaxHistory) {
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
    const int index = behaviour::findEntry(ui->Combo1->count(), sURL,
                                           [this](int i) { return ui->Combo1->itemText(i); });
    if (index < 0) {
        return false;
    }
    ui->Combo1->setCurrentIndex(index);
    return true;
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
    switch (behaviour::commandStateButton(Command)) {
    case behaviour::NavigationButton::Forward:
        ui->Command3->setEnabled(Enable);
        break;
    case behaviour::NavigationButton::Back:
        ui->Command2->setEnabled(Enable);
        break;
    case behaviour::NavigationButton::None:
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

std::optional<WebViewCredentials> F_Browser::login(const WebViewLogin& request)
{
    const QString realm = (request.proxy ? QStringLiteral("proxy ") : QStringLiteral("server ")) +
                          request.host + u'\n' + request.realm;
    F_Login box(request, m_loginsAnswered.contains(realm), this);
    std::optional<WebViewCredentials> answer = box.ask();
    if (answer) {
        m_loginsAnswered.insert(realm);
    } else {
        m_loginsAnswered.remove(realm);
    }
    return answer;
}

bool F_Browser::acceptCertificate(const WebViewCertificate& c)
{
    const QString key = c.host + u'\n' + c.sha256;
    if (m_certificatesAccepted.contains(key)) {
        return true;
    }
    QString problem;
    switch (c.problem) {
    case WebViewCertificate::Problem::Authority:
        problem = browsertext::tr(text::Id::CertAuthority);
        break;
    case WebViewCertificate::Problem::Name:
        problem = browsertext::tr(text::Id::CertName);
        break;
    case WebViewCertificate::Problem::Date:
        problem = browsertext::tr(text::Id::CertDate);
        break;
    case WebViewCertificate::Problem::Other:
        problem = format(text::Id::CertOther, c.description);
        break;
    }
    // 32 pairs in two lines of 16, so that the box stays narrow enough to read.
    const QString fingerprint = c.sha256.left(47) + u'\n' + c.sha256.mid(48);
    const QString message =
        format(text::Id::CertHost, c.host) + u'\n' + problem + QStringLiteral("\n\n") +
        browsertext::tr(text::Id::CertFingerprint) + u'\n' + fingerprint + u'\n' +
        format(text::Id::CertValidity, c.notBefore.toLocalTime().toString(kDateFormat),
               c.notAfter.toLocalTime().toString(kDateFormat)) +
        QStringLiteral("\n\n") + browsertext::tr(text::Id::CertAsk);
    QMessageBox box(QMessageBox::Warning, browsertext::tr(text::Id::CertTitle), message,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(browsertext::tr(text::Id::CertYes));
    box.button(QMessageBox::No)->setText(browsertext::tr(text::Id::CertNo));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
        return false;
    }
    m_certificatesAccepted.insert(key);
    return true;
}

QString F_Browser::downloadPath(const QString& suggestedName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    // Qt's own dialog, so that it speaks the program's language whatever the desktop's is.
    QFileDialog dialog(this, browsertext::tr(text::Id::DownloadSaveTitle),
                       QDir(folder).filePath(QFileInfo(suggestedName).fileName()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

void F_Browser::downloadProgress(qint64 received, qint64 total)
{
    // Shown as the busy indicator shows a load; the timer must not put the page's name back.
    Timer1->stop();
    setWindowTitle(total > 0
                       ? format(text::Id::DownloadPercent,
                                QString::number(std::min<qint64>(received * 100 / total, 100)))
                       : format(text::Id::DownloadBytes, QString::number(received / 1024)));
}

void F_Browser::downloadFinished(bool ok, const QString& path, const QString& reason)
{
    WebBrowser1_DownloadComplete();
    QMessageBox box(ok ? QMessageBox::Information : QMessageBox::Warning,
                    browsertext::tr(text::Id::DownloadTitle),
                    ok ? format(text::Id::DownloadDone, QDir::toNativeSeparators(path))
                       : format(text::Id::DownloadFailed, QDir::toNativeSeparators(path), reason),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList F_Browser::chooseFiles(bool multiple, const QStringList& /*acceptedTypes*/)
{
    QFileDialog dialog(this, browsertext::tr(text::Id::UploadChooseTitle), QDir::homePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
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

bool F_Browser::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::WindowTitleChange:
    case QEvent::WinIdChange:
    case QEvent::Show:
        // The widget keeps its empty title; only the window system is given the blank one.
        if (windowTitle().isEmpty() && windowHandle() != nullptr) {
            windowHandle()->setTitle(kBlankTitle);
        }
        break;
    default:
        break;
    }
    return handled;
}

void F_Browser::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && s_instance == this) {
        s_instance = nullptr;
    }
}
