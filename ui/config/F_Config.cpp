#include "F_Config.h"

#include "FixedWindow.h"
#include "QtText.h"
#include "Resources.h"
#include "ui_F_Config.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>

#include <algorithm>

F_Config::F_Config(QWidget* parent, const behaviour::PublicArea& area)
    : QDialog(parent), m_ui(std::make_unique<Ui::F_Config>()), m_core(*this, area)
{
    m_ui->setupUi(this);
    const Ui::F_Config& u = *m_ui;
    T_IpAddr = {u.T_IpAddr_0, u.T_IpAddr_1, u.T_IpAddr_2, u.T_IpAddr_3};
    T_SbMask = {u.T_SbMask_0, u.T_SbMask_1, u.T_SbMask_2, u.T_SbMask_3};
    T_GateWay = {u.T_GateWay_0, u.T_GateWay_1, u.T_GateWay_2, u.T_GateWay_3};
    C_SetBrw = u.C_SetBrw;
    Command1 = u.Command1;
    Command2 = u.Command2;
    L_MacAddr = u.L_MacAddr;
    Label1 = u.Label1;
    Label2 = u.Label2;
    Label3 = u.Label3;
    Label4 = u.Label4;
    Label5 = u.Label5;
    Label6 = u.Label6;
    Label7 = u.Label7;
    Label8 = u.Label8;
    Label9 = u.Label9;
    Label10 = u.Label10;
    Label11 = u.Label11;
    Label12 = u.Label12;
    Label13 = u.Label13;
    Line1 = u.Line1;
    Line2 = u.Line2;
    Image2 = u.Image2;
    applyTexts();

    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    FixedWindow::keep(this);
    setWindowIcon(res::appIcon());
    Image2->setPixmap(res::appIcon32());

    // The .ui format holds whole point sizes only.
    QFont mac(QStringLiteral("Century"));
    mac.setPointSizeF(9.75);
    mac.setWeight(QFont::Bold);
    L_MacAddr->setFont(mac);

    // The two one-pixel lines make the etched rule: shadow above, highlight below.
    Line1->setBackgroundRole(QPalette::Dark);
    Line2->setBackgroundRole(QPalette::Light);

    for (short i = 0; i < 4; ++i) {
        connect(T_IpAddr[i], &QLineEdit::textChanged, this, [this, i] { T_IpAddr_Change(i); });
        connect(T_SbMask[i], &QLineEdit::textChanged, this, [this, i] { T_SbMask_Change(i); });
        connect(T_GateWay[i], &QLineEdit::textChanged, this, [this, i] { T_GateWay_Change(i); });
        T_IpAddr[i]->installEventFilter(this);
        T_SbMask[i]->installEventFilter(this);
        T_GateWay[i]->installEventFilter(this);
    }
    connect(Command1, &QPushButton::clicked, this, &F_Config::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &F_Config::Command2_Click);

    Form_Load();
}

F_Config::~F_Config() = default;

void F_Config::applyTexts()
{
    // The window definition keeps the Japanese captions; the catalogue gives the language.
    setWindowTitle(qtText(text::Id::ConfigTitle));
    Label1->setText(qtText(text::Id::ConfigMacLabel));
    Label2->setText(qtText(text::Id::ConfigIpLabel));
    Label6->setText(qtText(text::Id::ConfigMaskLabel));
    Label7->setText(qtText(text::Id::ConfigGatewayLabel));
    C_SetBrw->setText(qtText(text::Id::ConfigOpenBrowser));
    Command2->setText(qtText(text::Id::ConfigSet));
    Command1->setText(qtText(text::Id::ConfigCancel));
}

void F_Config::Form_Load()
{
    m_core.Form_Load();
}
void F_Config::Form_Activate()
{
    m_core.Form_Activate();
}
void F_Config::Command1_Click()
{
    m_core.Command1_Click();
}
void F_Config::Command2_Click()
{
    m_core.Command2_Click();
}
void F_Config::T_IpAddr_Change(short Index)
{
    m_core.T_IpAddr_Change(Index);
}
void F_Config::T_SbMask_Change(short Index)
{
    m_core.T_SbMask_Change(Index);
}
void F_Config::T_GateWay_Change(short Index)
{
    m_core.T_GateWay_Change(Index);
}
void F_Config::T_IpAddr_LostFocus(short Index)
{
    m_core.T_IpAddr_LostFocus(Index);
}
void F_Config::T_SbMask_LostFocus(short Index)
{
    m_core.T_SbMask_LostFocus(Index);
}
void F_Config::T_GateWay_LostFocus(short Index)
{
    m_core.T_GateWay_LostFocus(Index);
}

void F_Config::done(int r)
{
    m_core.Form_Unload();
    QDialog::done(r);
}

QLineEdit* F_Config::box(Group group, int index) const
{
    switch (group) {
    case Group::IpAddr:
        return T_IpAddr[index];
    case Group::SbMask:
        return T_SbMask[index];
    case Group::GateWay:
        break;
    }
    return T_GateWay[index];
}

std::u16string F_Config::boxText(Group group, int index) const
{
    return box(group, index)->text().toStdU16String();
}

void F_Config::setBoxText(Group group, int index, const std::u16string& text)
{
    // textChanged, and with it the group's change handler, follows at once when the text differs.
    box(group, index)->setText(QString::fromStdU16String(text));
}

int F_Config::caret(Group group, int index) const
{
    return box(group, index)->cursorPosition();
}

void F_Config::setCaret(Group group, int index, int position)
{
    QLineEdit* b = box(group, index);
    b->setCursorPosition(std::min<int>(position, static_cast<int>(b->text().size())));
}

void F_Config::focusBox(Group group, int index)
{
    box(group, index)->setFocus();
}

void F_Config::makeSetDefault()
{
    Command2->setDefault(true);
}

void F_Config::focusSet()
{
    Command2->setFocus();
}

void F_Config::setMacText(const std::string& text)
{
    L_MacAddr->setText(QString::fromStdString(text));
}

bool F_Config::openBrowserChecked() const
{
    return C_SetBrw->isChecked();
}

bool F_Config::confirm(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void F_Config::closeDialog(bool set)
{
    if (set) {
        accept();
    } else {
        reject();
    }
}

bool F_Config::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) {
        const bool handled = QDialog::event(e);
        Form_Activate();
        return handled;
    }
    return QDialog::event(e);
}

bool F_Config::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window becoming active or a context menu opening is no move to another
        // control of this dialog.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (short i = 0; i < 4; ++i) {
                if (watched == T_IpAddr[i]) {
                    T_IpAddr_LostFocus(i);
                } else if (watched == T_SbMask[i]) {
                    T_SbMask_LostFocus(i);
                } else if (watched == T_GateWay[i]) {
                    T_GateWay_LostFocus(i);
                }
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void F_Config::keyPressEvent(QKeyEvent* e)
{
    // Esc acts as a click on Cancel, so that Cancel's handler runs rather than a bare reject.
    if (e->matches(QKeySequence::Cancel)) {
        Command1->click();
        return;
    }
    QDialog::keyPressEvent(e);
}
