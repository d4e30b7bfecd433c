#include "F_Main.h"
#include "ui_F_Main.h"

#include "BootMessage.h"
#include "BootP.h"
#include "F_Browser.h"
#include "F_Config.h"
#include "MessageBoxText.h"
#include "Platform.h"
#include "Privileges.h"
#include "PublicArea.h"
#include "QtText.h"
#include "Resources.h"
#include "SearchFailure.h"
#include "SearchRules.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using text::Id;
using text::twin;

F_Main::Services F_Main::platformServices()
{
    NetworkServices network = createNetworkServices();
    return {std::move(network.socket), std::move(network.neighbours), createClock(),
            &queryOsVersion, &runsAsRoot};
}

F_Main::F_Main(Services services, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::F_Main>()), m_services(std::move(services))
{
    m_ui->setupUi(this);
    applyTexts();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(res::appIcon());

    Command1 = m_ui->Command1;
    Command2 = m_ui->Command2;
    Command3 = m_ui->Command3;
    Text1 = m_ui->Text1;
    Img_Card = m_ui->Img_Card;
    ImgAni = {m_ui->ImgAni_0, m_ui->ImgAni_1, m_ui->ImgAni_2,  m_ui->ImgAni_3,
              m_ui->ImgAni_4, m_ui->ImgAni_5, m_ui->ImgAni_6,  m_ui->ImgAni_7,
              m_ui->ImgAni_8, m_ui->ImgAni_9, m_ui->ImgAni_10, m_ui->ImgAni_11};
    Img_AniBuf = m_ui->Img_AniBuf;
    Winsock1 = m_services.socket.get();
    Timer1 = new QTimer(this);

    // The status box reads like part of the window: button-face background, black text.
    QPalette statusColours = Text1->palette();
    statusColours.setColor(QPalette::Base, palette().color(QPalette::Button));
    statusColours.setColor(QPalette::Text, Qt::black);
    Text1->setPalette(statusColours);
    Img_Card->setPixmap(res::cardPicture());
    // Frame 0 is all a window at rest shows; the others are read when the animation first
    // runs, which keeps their decoding out of the start-up.
    ImgAni[0]->setPixmap(res::animationFrame(0));
    Img_AniBuf->setPixmap(ImgAni[0]->pixmap());
    setDefaultButton(Command3);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &F_Main::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &F_Main::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &F_Main::Command3_Click);
    connect(Timer1, &QTimer::timeout, this, &F_Main::Timer1_Timer);
    connect(Winsock1, &UdpSocket::DataArrival, this, &F_Main::Winsock1_DataArrival);
    connect(Winsock1, &UdpSocket::Error, this, &F_Main::Winsock1_Error);

    Form_Load();
}

F_Main::~F_Main() = default;

void F_Main::applyTexts()
{
    // The window definition keeps the Japanese captions; the catalogue gives the language.
    m_ui->Command1->setText(qtText(Id::MainStart));
    m_ui->Command1->setToolTip(qtText(Id::MainStartTip));
    m_ui->Command2->setText(qtText(Id::MainStop));
    m_ui->Command2->setToolTip(qtText(Id::MainStopTip));
    m_ui->Command3->setText(qtText(Id::MainExit));
    m_ui->Command3->setToolTip(qtText(Id::MainExitTip));
}

void F_Main::Form_Load()
{
    m_services.queryVersion(M_OsVer);
    PublicArea::G_ArpCmd = arpCommandPrefix(M_OsVer.platformId).toStdString();
    PublicArea::G_OptTmpl = bootp::kCardOptions;
    Winsock1->setLocalPort(bootp::kServerPort);
    Winsock1->setRemoteHost(QStringLiteral("0.0.0.0"));
    Winsock1->setRemotePort(bootp::kClientPort);
    M_Search = false;
    PublicArea::G_LocalIp = splitLocalIp(Winsock1->localIP());
}

void F_Main::Command1_Click()
{
    Command1->setEnabled(false);
    Command2->setEnabled(true);
    setDefaultButton(Command2);
    Command2->setFocus();
    Command3->setEnabled(false);
    setTimerInterval(200);
    if (!bindOrStop()) {
        return;
    }
    setStatus(qtText(Id::StatusSearching));
    M_Search = true;
}

void F_Main::Command2_Click()
{
    Command1->setEnabled(true);
    Command2->setEnabled(false);
    Command3->setEnabled(true);
    setDefaultButton(Command3);
    Command3->setFocus();
    setTimerInterval(0);
    M_AniIdx = 0;
    Img_AniBuf->setPixmap(ImgAni[0]->pixmap());
    Winsock1->endSearch();
    setStatus(QString());
    M_Search = false;
}

void F_Main::Command3_Click()
{
    close();
}

void F_Main::Form_Unload()
{
    F_Browser::unload();
    if (M_Search) {
        Winsock1->endSearch();
    }
}

void F_Main::Timer1_Timer()
{
    if (ImgAni[M_AniIdx]->pixmap().isNull()) {
        for (int i = 1; i < int(ImgAni.size()); ++i) {
            ImgAni[i]->setPixmap(res::animationFrame(i));
        }
    }
    Img_AniBuf->setPixmap(ImgAni[M_AniIdx]->pixmap());
    ++M_AniIdx;
    if (M_AniIdx > 11) {
        M_AniIdx = 0;
    }
}

void F_Main::Winsock1_DataArrival(qint32 bytesTotal)
{
    QByteArray message = Winsock1->getData(bytesTotal);
    if (bytesTotal < qint32(bootp::kMinMessage) || bytesTotal > qint32(bootp::kMaxCardRequest)) {
        return;
    }
    const auto bytes = std::span(reinterpret_cast<std::uint8_t*>(message.data()),
                                 static_cast<std::size_t>(message.size()));
    if (!chkRequest(bytes)) {
        return;
    }
    macText(bytes);
    // The card can only use this PC's address on the network its request came from; with no
    // address there, nothing is proposed and the reply names no server.
    const QString local = Winsock1->arrivalAddress();
    PublicArea::G_LocalIp = local.isEmpty() ? PublicArea::Octets{} : splitLocalIp(local);
    setStatus(qtText(Id::StatusCardFound));
    Winsock1->close();
    {
        F_Config dialog(this);
        dialog.exec();
    }
    if (PublicArea::G_SetOk) {
        setInputBlocked(true);
        const std::optional<Report> report = assign(bytes, message);
        setInputBlocked(false);
        // Shown before listening again: what the card repeats meanwhile is dropped, as while
        // the dialog is open, so the box cannot be buried under the next dialog.
        if (report) {
            showReport(*report);
        }
        if (m_rootNoticeDue) {
            // Chromium cannot sandbox itself as root: the page is shown, but the operator
            // should know, once.
            m_rootNoticeDue = false;
            const text::Twin notice = twin(Id::NoticeRoot);
            std::fprintf(stderr, "torvane: %s\n", notice.english.c_str());
            showMessage(this, QMessageBox::Warning, qtText(Id::NoticeTitle), notice.local());
        }
    }
    setStatus(qtText(Id::StatusSearching));
    bindOrStop();
}

std::optional<F_Main::Report> F_Main::assign(std::span<std::uint8_t> bytes, QByteArray& message)
{
    setStatus(qtText(Id::StatusSetting));
    const std::string interface = Winsock1->arrivalInterfaceName().toStdString();
    if (!Winsock1->arrivalInterfaceExists()) {
        return Report{0,
                      twin(Id::FailInterfaceGone, {interface}),
                      twin(Id::CardNotSent),
                      twin(Id::DoCheckInterface),
                      {}};
    }
    makeReply(bytes);
    Winsock1->setRemoteHost(QStringLiteral("255.255.255.255"));
    try {
        Winsock1->sendData(message);
    } catch (const SearchFailure& e) {
        Winsock1->setRemoteHost(QStringLiteral("0.0.0.0"));
        return Report{e.number(),
                      twin(Id::FailReplyNotSent, {e.text()}),
                      twin(Id::CardNotSent),
                      twin(Id::DoSetAgain),
                      {}};
    }
    Winsock1->close();
    Winsock1->setRemoteHost(QStringLiteral("0.0.0.0"));
    const QString address = dottedText(PublicArea::G_IpAddr);
    const std::string dotted = address.toStdString();
    // The card has its address either way; but a page on another network than the request's
    // interface would be looked for by another NIC, and never load.
    std::optional<Report> report;
    if (Winsock1->arrivalAddress().isEmpty() || !Winsock1->arrivalSubnetHolds(address)) {
        report = Report{0,
                        twin(Id::FailOutsideNetwork, {dotted, interface}),
                        twin(Id::CardSent, {dotted}),
                        twin(Id::DoOutside),
                        {}};
    } else {
        report = addNeighbourEntry(address, bytes.subspan<bootp::kChaddr, bootp::kMacSize>());
    }
    waitSeconds(5.0);
    if (!Winsock1->arrivalInterfaceExists()) {
        return Report{0,
                      twin(Id::FailInterfaceGone, {interface}),
                      twin(Id::CardSent, {dotted}),
                      twin(Id::DoCheckInterface),
                      {}};
    }
    if (PublicArea::G_OpenBrw && !report) {
        const QString browserFailure = F_Browser::startFailure();
        if (!browserFailure.isEmpty()) {
            // The loader has named the cause on stderr in English already.
            const text::Twin what(
                browserFailure.toStdString(),
                text::format(text::tr(Id::BrowserCannotStart, text::Lang::English), {"see above"}));
            return Report{
                0, what, twin(Id::CardSent, {dotted}), twin(Id::DoOtherBrowser, {dotted}), {}};
        }
        F_Browser::get().addURL(QStringLiteral("http://") + address + QStringLiteral("/"));
        if (m_services.asRoot && m_services.asRoot() && !m_rootNoticeShown) {
            m_rootNoticeShown = m_rootNoticeDue = true;
        }
    }
    return report;
}

bool F_Main::bindOrStop()
{
    try {
        Winsock1->bind(bootp::kServerPort);
        return true;
    } catch (const SearchFailure& e) {
        searchFailed(e);
        return false;
    }
}

void F_Main::searchFailed(const SearchFailure& failure)
{
    // The operator can fix what went wrong and start again: back to idle, not to the end.
    showReport({failure.number(), failure.text(), {}, {}, {}});
    Command2_Click();
}

void F_Main::showReport(const Report& r)
{
    const auto body = [&r](text::Lang lang) {
        std::string out;
        for (const text::Twin* part : {&r.what, &r.card, &r.todo}) {
            if (!part->in(lang).empty()) {
                out += (out.empty() ? "" : "\n") + part->in(lang);
            }
        }
        return r.code == 0
                   ? out
                   : text::format(text::tr(Id::ErrorCodeLine, lang), {std::to_string(r.code), out});
    };
    std::fprintf(stderr, "torvane: %s%s\n", r.context.c_str(), body(text::Lang::English).c_str());
    showMessage(this, QMessageBox::Critical, qtText(Id::ErrorTitle), body(text::language()));
}

std::optional<F_Main::Report> F_Main::addNeighbourEntry(const QString& address,
                                                        std::span<const std::uint8_t, 6> mac)
{
    std::array<std::uint8_t, 6> hardware;
    std::copy(mac.begin(), mac.end(), hardware.begin());
    const int ifindex = Winsock1->arrivalInterface();
    const text::Twin failure =
        m_services.neighbours->addPermanent(ifindex, PublicArea::G_IpAddr, hardware);
    // stderr names the equivalent command with its outcome.
    const std::string command = PublicArea::G_ArpCmd + address.toStdString() + ' ' +
                                PublicArea::G_MacAddr + " on " +
                                Winsock1->arrivalInterfaceName().toStdString();
    if (failure.empty()) {
        std::fprintf(stderr, "torvane: %s: permanent neighbour entry\n", command.c_str());
        return std::nullopt;
    }
    return Report{0, twin(Id::FailNeighbour, {failure}),
                  twin(Id::CardSent, {address.toStdString()}), twin(Id::DoNeighbour),
                  command + ": "};
}

void F_Main::waitSeconds(double seconds)
{
    // Events keep flowing (animation, browser window); a short timer bounds each sleep.
    QTimer wake;
    wake.start(20);
    const double start = m_services.clock->seconds();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } while (m_services.clock->seconds() - start <= seconds);
}

void F_Main::Winsock1_Error(qint16 number, const QString& description)
{
    // A number of 0 is no error code: the socket's end came without one.
    const std::string why = description.toStdString();
    const std::string message = number == 0
                                    ? text::format(Id::SocketErrorNoCode, {why})
                                    : text::format(Id::SocketError, {std::to_string(number), why});
    showMessage(this, QMessageBox::Critical, qtText(Id::ErrorTitle), message);
    // What fails here is the search (the helper has ended); the operator can start it again.
    if (M_Search) {
        Command2_Click();
    }
}

void F_Main::keyPressEvent(QKeyEvent* event)
{
    // A plain window has no default or cancel button of its own: Enter goes to the focused
    // push button or else to the default one, Esc to Exit.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget())) {
            focused->click();
        } else if (m_defaultButton != nullptr) {
            m_defaultButton->click();
        }
        return;
    case Qt::Key_Escape:
        Command3->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void F_Main::setInputBlocked(bool blocked)
{
    // Disabling the window would grey out the picture, the running animation and Stop, and
    // take the focus off Stop; input is swallowed instead while everything stays drawn.
    m_inputBlocked = blocked;
    if (blocked) {
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
    }
}

bool F_Main::eventFilter(QObject* watched, QEvent* event)
{
    if (m_inputBlocked && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::InputMethod:
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void F_Main::closeEvent(QCloseEvent* event)
{
    // While a card is being assigned the whole window, close box included, takes no input.
    if (m_inputBlocked) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void F_Main::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* s = screen()) {
            move(s->availableGeometry().center() - rect().center());
        }
    }
    QWidget::showEvent(event);
}

void F_Main::setDefaultButton(QPushButton* button)
{
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setDefault(b == button);
    }
    m_defaultButton = button;
}

void F_Main::setTimerInterval(int milliseconds)
{
    // Interval 0 means "not ticking", whereas a QTimer would fire continuously.
    if (milliseconds <= 0) {
        Timer1->stop();
    } else {
        Timer1->start(milliseconds);
    }
}

void F_Main::setStatus(const QString& text)
{
    Text1->setPlainText(text);
}
