#include "F_Browser.h"

#include "F_Login.h"
#include "FatalError.h"
#include "QtText.h"
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

// What the window system gets for an empty title. Qt hands it the program's name instead of
// nothing; a zero-width space is a title that shows nothing.
const QString kBlankTitle = QString(QChar(0x200B));
const QString kDateFormat = QStringLiteral("yyyy/MM/dd HH:mm");

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

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

F_Browser* F_Browser::current()
{
    return s_instance;
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
    keepMinimumSize();
    ui->Command1->setText(qtText(text::Id::BrowserClose));
    ui->Command2->setToolTip(qtText(text::Id::BrowserBackTip));
    ui->Command3->setToolTip(qtText(text::Id::BrowserForwardTip));
    ui->Command4->setToolTip(qtText(text::Id::BrowserRefreshTip));
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

    connect(ui->Combo1, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_behaviour.Combo1_Click(index); });
    connect(ui->Command1, &QPushButton::clicked, this, &F_Browser::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &F_Browser::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &F_Browser::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &F_Browser::Command4_Click);
    connect(Timer1, &QTimer::timeout, this, [this] { m_behaviour.Timer1_Timer(); });
    connect(WebBrowser1.get(), &WebView::CommandStateChange, this,
            [this](int Command, bool Enable) {
                m_behaviour.WebBrowser1_CommandStateChange(Command, Enable);
            });
    connect(WebBrowser1.get(), &WebView::DownloadComplete, this,
            [this] { m_behaviour.WebBrowser1_DownloadComplete(); });
    connect(WebBrowser1.get(), &WebView::DocumentComplete, this,
            [this] { m_behaviour.WebBrowser1_DocumentComplete(); });
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
    m_behaviour.addURL(sURL.toStdString());
}

void F_Browser::insertEntry(int index, const std::string& text)
{
    ui->Combo1->insertItem(index, qs(text));
}

void F_Browser::removeEntry(int index)
{
    ui->Combo1->removeItem(index);
}

void F_Browser::selectEntry(int index)
{
    ui->Combo1->setCurrentIndex(index);
}

void F_Browser::setButtonEnabled(Button button, bool enabled)
{
    (button == Button::Command2 ? ui->Command2 : ui->Command3)->setEnabled(enabled);
}

void F_Browser::setTimerInterval(int milliseconds)
{
    // QTimer with an interval of 0 would fire continuously.
    if (milliseconds > 0) {
        Timer1->start(milliseconds);
    } else {
        Timer1->stop();
    }
}

bool F_Browser::navigate(const std::string& url)
{
    WebBrowser1->Navigate(qs(url));
    return true;
}

std::optional<WebViewCredentials> F_Browser::login(const WebViewLogin& request)
{
    std::optional<WebViewCredentials> answer;
    m_behaviour.login(request.proxy, request.host.toStdString(), request.realm.toStdString(),
                      [&](bool again) {
                          answer = F_Login(request, again, this).ask();
                          return answer.has_value();
                      });
    return answer;
}

bool F_Browser::acceptCertificate(const WebViewCertificate& c)
{
    const auto date = [](const QDateTime& t) {
        return t.toLocalTime().toString(kDateFormat).toStdString();
    };
    // Both name the same four problems in the same order.
    const auto problem = static_cast<behaviour::Certificate::Problem>(c.problem);
    const behaviour::Certificate certificate{c.host.toStdString(),        problem,
                                             c.description.toStdString(), c.sha256.toStdString(),
                                             date(c.notBefore),           date(c.notAfter)};
    return m_behaviour.acceptCertificate(certificate, [this](const behaviour::Question& q) {
        QMessageBox box(QMessageBox::Warning, qs(q.title), qs(q.text),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setTextFormat(Qt::PlainText);
        box.button(QMessageBox::Yes)->setText(qs(q.yes));
        box.button(QMessageBox::No)->setText(qs(q.no));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    });
}

QString F_Browser::downloadPath(const QString& suggestedName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    // Qt's own dialog, so that it speaks the program's language whatever the desktop's is.
    QFileDialog dialog(this, qtText(text::Id::DownloadSaveTitle),
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
    m_behaviour.downloadProgress(received, total);
}

void F_Browser::downloadFinished(bool ok, const QString& path, const QString& reason)
{
    const behaviour::Question report = m_behaviour.downloadFinished(
        ok, QDir::toNativeSeparators(path).toStdString(), reason.toStdString());
    QMessageBox box(report.warning ? QMessageBox::Warning : QMessageBox::Information,
                    qs(report.title), qs(report.text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList F_Browser::chooseFiles(bool multiple, const QStringList& /*acceptedTypes*/)
{
    QFileDialog dialog(this, qtText(text::Id::UploadChooseTitle), QDir::homePath());
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

// The window system is told the smallest size too, so that a drag stops there instead of the
// window jumping back once the drag has gone below it.
void F_Browser::keepMinimumSize()
{
    const QSize frame = frameGeometry().size() - size();
    const QSize least = (QSize(kMinOuterWidth, kMinOuterHeight) - frame).expandedTo({1, 1});
    if (minimumSize() != least) {
        setMinimumSize(least);
    }
}

void F_Browser::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    keepMinimumSize();
    adoptFrameMargins();
    Form_Resize();
}

void F_Browser::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    keepMinimumSize();
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
