#include "F_Config.h"

#include "OctetText.h"
#include "PublicArea.h"
#include "QtText.h"
#include "Resources.h"
#include "ui_F_Config.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>

namespace {

std::u16string_view view(const QString& s)
{
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

} // namespace

F_Config::F_Config(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::F_Config>())
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
    L_MacAddr->setText(QString::fromStdString(PublicArea::G_MacAddr));
}

void F_Config::Form_Activate()
{
    // 0.0.0.0: the card's interface has no address of this PC, so there is nothing to propose.
    if (PublicArea::G_LocalIp != PublicArea::Octets{}) {
        for (short i = 0; i < 3; ++i) {
            T_IpAddr[i]->setText(QString::number(PublicArea::G_LocalIp[i]));
        }
    }
    T_IpAddr[3]->setFocus();
}

void F_Config::Command1_Click()
{
    PublicArea::G_SetOk = false;
    reject();
}

void F_Config::Command2_Click()
{
    // The texts are taken once: the confirmation shows them and the stored octets are read
    // from the same texts, so what the operator confirms is what is stored.
    std::array<Boxes, 3> groups{T_IpAddr, T_SbMask, T_GateWay};
    std::array<std::array<QString, 4>, 3> texts;
    for (std::size_t g = 0; g < 3; ++g) {
        for (std::size_t i = 0; i < 4; ++i) {
            texts[g][i] = groups[g][i]->text();
        }
    }
    auto dotted = [](const std::array<QString, 4>& t) {
        return t[0] + u'.' + t[1] + u'.' + t[2] + u'.' + t[3];
    };
    const QString message = QString::fromStdString(text::format(
        text::Id::ConfirmText, {dotted(texts[0]).toStdString(), dotted(texts[1]).toStdString(),
                                dotted(texts[2]).toStdString()}));

    QMessageBox box(QMessageBox::Question, qtText(text::Id::ConfirmTitle), message,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
        return;
    }

    for (std::size_t i = 0; i < 4; ++i) {
        PublicArea::G_IpAddr[i] = octet::value(view(texts[0][i]));
        PublicArea::G_SbMask[i] = octet::value(view(texts[1][i]));
        PublicArea::G_GateWay[i] = octet::value(view(texts[2][i]));
    }
    PublicArea::G_SetOk = true;
    PublicArea::G_OpenBrw = C_SetBrw->isChecked();
    m_setConfirmed = true;
    accept();
}

void F_Config::done(int r)
{
    // Leaving by any way but a confirmed Set (close box, Esc, Cancel) is a Cancel: otherwise
    // the previous card's addresses would be sent to the next card.
    if (!m_setConfirmed) {
        PublicArea::G_SetOk = false;
    }
    QDialog::done(r);
}

void F_Config::T_IpAddr_Change(short Index)
{
    octetChange(T_IpAddr, Index);
}
void F_Config::T_SbMask_Change(short Index)
{
    octetChange(T_SbMask, Index);
}
void F_Config::T_GateWay_Change(short Index)
{
    octetChange(T_GateWay, Index);
}
void F_Config::T_IpAddr_LostFocus(short Index)
{
    octetLostFocus(T_IpAddr, Index);
}
void F_Config::T_SbMask_LostFocus(short Index)
{
    octetLostFocus(T_SbMask, Index);
}
void F_Config::T_GateWay_LostFocus(short Index)
{
    octetLostFocus(T_GateWay, Index);
}

bool F_Config::IsNumChar(const QString& ch)
{
    return octet::isNumChar(view(ch));
}

void F_Config::octetChange(const Boxes& group, short Index)
{
    QLineEdit* box = group[Index];
    // Read the text afresh: a nested change may already have altered it.
    const QString text = box->text();

    // A minus sign would make an octet no byte can hold; it is refused wherever it is typed.
    // Setting the cleaned text runs this handling again for what remains.
    if (text.contains(u'-')) {
        const int caret = box->cursorPosition();
        const int before = static_cast<int>(text.left(caret).count(u'-'));
        box->setText(QString(text).remove(u'-'));
        box->setCursorPosition(std::min<int>(caret - before, box->text().size()));
        return;
    }

    const int L = static_cast<int>(text.size());
    if (IsNumChar(text.right(1))) {
        if (L >= 3) {
            if (Index == 3) {
                Command2->setDefault(true);
                Command2->setFocus();
            } else {
                group[Index + 1]->setFocus();
            }
        }
        return;
    }
    box->setText(L <= 1 ? QString() : text.left(L - 1));
    box->setCursorPosition(std::min<int>(L, box->text().size()));
}

void F_Config::octetLostFocus(const Boxes& group, short Index)
{
    QLineEdit* box = group[Index];
    const std::u16string normal = octet::normalText(view(box->text()));
    box->setText(QString::fromStdU16String(normal));
}

bool F_Config::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && !m_activated) {
        // Only the first activation proposes the address; coming back from the confirmation
        // box must not overwrite what the operator typed.
        m_activated = true;
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
