#include "F_Main.h"
#include "ui_F_Main.h"

#include "F_Browser.h"
#include "F_Config.h"
#include "FixedWindow.h"
#include "MessageBoxText.h"
#include "linux/LinuxServices.h"
#include "Privileges.h"
#include "QtText.h"
#include "Resources.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

using text::Id;

F_Main::Services F_Main::platformServices()
{
    NetworkServices network = createNetworkServices();
    return {std::move(network.socket), std::move(network.neighbours), createClock(),
            &queryOsVersion, &runsAsRoot};
}

F_Main::F_Main(Services services, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::F_Main>()), m_services(std::move(services)),
      m_core(*this, {*m_services.socket, *m_services.neighbours, *m_services.clock,
                     m_services.queryVersion, m_services.asRoot})
{
    m_ui->setupUi(this);
    applyTexts();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    FixedWindow::keep(this);
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
    m_wake = new QTimer(this);

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
    // The socket's events reach the behaviour through its two callbacks.

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
    m_core.Form_Load();
}
void F_Main::Form_Unload()
{
    m_core.Form_Unload();
}
void F_Main::Command1_Click()
{
    m_core.Command1_Click();
}
void F_Main::Command2_Click()
{
    m_core.Command2_Click();
}
void F_Main::Command3_Click()
{
    m_core.Command3_Click();
}
void F_Main::Timer1_Timer()
{
    m_core.Timer1_Timer();
}
void F_Main::Winsock1_DataArrival(qint32 bytesTotal)
{
    m_core.Winsock1_DataArrival(bytesTotal);
}
void F_Main::Winsock1_Error(qint16 number, const QString& description)
{
    m_core.Winsock1_Error(number, description.toStdString());
}

QPushButton* F_Main::button(Button b) const
{
    switch (b) {
    case Button::Command1:
        return Command1;
    case Button::Command2:
        return Command2;
    case Button::Command3:
        break;
    }
    return Command3;
}

void F_Main::setButtonEnabled(Button b, bool enabled)
{
    button(b)->setEnabled(enabled);
}

void F_Main::setDefaultButton(Button b)
{
    setDefaultButton(button(b));
}

void F_Main::setButtonFocus(Button b)
{
    button(b)->setFocus();
}

void F_Main::showFrame(int index)
{
    if (ImgAni[index]->pixmap().isNull()) {
        for (int i = 1; i < int(ImgAni.size()); ++i) {
            ImgAni[i]->setPixmap(res::animationFrame(i));
        }
    }
    Img_AniBuf->setPixmap(ImgAni[index]->pixmap());
}

void F_Main::showMessage(Icon icon, const std::string& title, const std::string& text)
{
    ::showMessage(this, icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
                  QString::fromStdString(title), text);
}

void F_Main::showBrowserNotice(const std::string& title, const std::string& text)
{
    // The box speaks of the browser window: it stands over that window, not this one.
    F_Browser* browser = F_Browser::current();
    ::showMessage(browser != nullptr ? static_cast<QWidget*>(browser) : this, QMessageBox::Warning,
                  QString::fromStdString(title), text);
}

bool F_Main::askQuestion(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

behaviour::Assignment F_Main::showSettingsDialog(const behaviour::PublicArea& area)
{
    F_Config dialog(this, area);
    dialog.exec();
    return dialog.result();
}

void F_Main::processEvents()
{
    // A short timer bounds each sleep of the polling wait.
    if (!m_wake->isActive()) {
        m_wake->start(20);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

std::string F_Main::browserStartFailure()
{
    return F_Browser::startFailure().toStdString();
}

void F_Main::openPage(const std::string& url)
{
    F_Browser::get().addURL(QString::fromStdString(url));
}

void F_Main::unloadBrowser()
{
    F_Browser::unload();
}

void F_Main::unload()
{
    close();
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
    if (!blocked) {
        m_wake->stop();
    }
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

void F_Main::setStatus(const std::string& text)
{
    Text1->setPlainText(QString::fromStdString(text));
}
