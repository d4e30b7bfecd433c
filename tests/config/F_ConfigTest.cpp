#include "F_Config.h"
#include "Fonts.h"
#include "Translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// Answers the next message box once it is the active window, as the operator would, and
// keeps what it showed.
class Answerer : public QObject {
public:
    explicit Answerer(QMessageBox::StandardButton answer) : m_answer(answer)
    {
        connect(&m_timer, &QTimer::timeout, this, &Answerer::poll);
        m_timer.start(5);
    }
    // Answers with Alt and the letter, as the operator's keyboard would. A letter that takes
    // no button down leaves the box open; it is then closed by Esc, which answers No.
    explicit Answerer(Qt::Key altKey) : Answerer(QMessageBox::NoButton) { m_altKey = altKey; }

    bool shown = false;
    bool leftOpen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString yesText;
    QString noText;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isActiveWindow()) {
            return;
        }
        m_timer.stop();
        shown = true;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        defaultButton = box->standardButton(box->defaultButton());
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
            yesText = yes->text();
        }
        if (QAbstractButton* no = box->button(QMessageBox::No)) {
            noText = no->text();
        }
        if (m_altKey != Qt::Key_unknown) {
            QTest::keyClick(box, m_altKey, Qt::AltModifier);
            // A button's mnemonic presses it at once and releases it a moment later.
            const QList<QAbstractButton*> buttons = box->buttons();
            leftOpen = std::none_of(buttons.begin(), buttons.end(),
                                    [](const QAbstractButton* b) { return b->isDown(); });
            if (leftOpen) {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        } else {
            box->button(m_answer)->click();
        }
    }
    QMessageBox::StandardButton m_answer;
    Qt::Key m_altKey = Qt::Key_unknown;
    QTimer m_timer;
};

QString focusName()
{
    QWidget* w = QApplication::focusWidget();
    return w != nullptr ? w->objectName() : QStringLiteral("<none>");
}

// Each event goes to whatever holds the focus at that moment, as a keyboard's would.
void type(const QTestEventList& events)
{
    for (QTestEvent* e : events) {
        QWidget* w = QApplication::focusWidget();
        QVERIFY2(w != nullptr, "no focus widget");
        e->simulate(w);
    }
}

// One click per character, so that each goes where the focus is by then.
void addChars(QTestEventList& l, const QString& chars)
{
    for (QChar c : chars) {
        l.addKeyClick(c.toLatin1());
    }
}

QTestEventList keys(const QString& chars)
{
    QTestEventList l;
    addChars(l, chars);
    return l;
}

QString dotted(const behaviour::Octets& o)
{
    return QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]);
}

const behaviour::Octets earlierIp{10, 1, 2, 3};
const behaviour::Octets earlierMask{255, 0, 0, 0};
const behaviour::Octets earlierGate{10, 1, 2, 254};

} // namespace

class F_ConfigTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installFonts();
        installQtTranslations(*QCoreApplication::instance());
    }
    void init();
    void cleanup() { m_dlg.reset(); }

    void definition();
    void captions_data();
    void captions();
    void opening();
    void tabOrder();
    void typing_data();
    void typing();
    void fullWidthDigitFromInputMethod();
    void closing_data();
    void closing();
    void noLeavesEverything();
    void confirmationKeys_data();
    void confirmationKeys();
    void closeBoxAfterSet();
    void execCentredOnOwner();

private:
    bool open();
    QLineEdit* box(const QString& group, int index) const;

    behaviour::PublicArea m_area;
    std::unique_ptr<F_Config> m_dlg;
};

void F_ConfigTest::init()
{
    // The state an earlier card's Set left behind.
    m_area = {};
    m_area.G_MacAddr = "00-0A-1B-C2-3D-FF";
    m_area.G_LocalIp = {192, 168, 1, 20};
    m_area.G_IpAddr = earlierIp;
    m_area.G_SbMask = earlierMask;
    m_area.G_GateWay = earlierGate;
    m_area.G_SetOk = true;
}

bool F_ConfigTest::open()
{
    m_dlg = std::make_unique<F_Config>(nullptr, m_area);
    m_dlg->setWindowModality(Qt::ApplicationModal);
    m_dlg->show();
    m_dlg->activateWindow();
    return QTest::qWaitForWindowActive(m_dlg.get());
}

QLineEdit* F_ConfigTest::box(const QString& group, int index) const
{
    if (group == u"ip") {
        return m_dlg->T_IpAddr[index];
    }
    if (group == u"mask") {
        return m_dlg->T_SbMask[index];
    }
    return m_dlg->T_GateWay[index];
}

void F_ConfigTest::definition()
{
    F_Config dlg(nullptr, m_area);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("アドレス未設定カード検出"));
    QCOMPARE(dlg.size(), QSize(393, 233));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    const Qt::WindowFlags f = dlg.windowFlags();
    QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.Image2->pixmap().size(), QSize(32, 32));

    QVERIFY(dlg.Command1->isDefault());
    QVERIFY(!dlg.Command2->isDefault());
    QVERIFY(dlg.C_SetBrw->isChecked());
    for (const F_Config::Boxes& g : {dlg.T_IpAddr, dlg.T_SbMask, dlg.T_GateWay}) {
        for (QLineEdit* b : g) {
            QVERIFY(b->text().isEmpty());
            QCOMPARE(b->maxLength(), 3);
            QCOMPARE(b->alignment(), Qt::AlignCenter);
            QCOMPARE(b->font().family(), QStringLiteral("Arial"));
            QCOMPARE(b->font().pointSize(), 9);
        }
    }
    QCOMPARE(dlg.L_MacAddr->font().family(), QStringLiteral("Century"));
    QCOMPARE(dlg.L_MacAddr->font().pointSizeF(), 9.75);
    QVERIFY(dlg.L_MacAddr->font().bold());
    // The MAC text fits its label in the bold face.
    QVERIFY(dlg.L_MacAddr->fontMetrics().horizontalAdvance(dlg.L_MacAddr->text()) <=
            dlg.L_MacAddr->width());

    // The etched rule: shadow line directly above the highlight line, full width.
    QCOMPARE(dlg.Line1->geometry(), QRect(0, 144, 392, 1));
    QCOMPARE(dlg.Line2->geometry(), QRect(0, 145, 392, 1));
    QCOMPARE(dlg.Line1->backgroundRole(), QPalette::Dark);
    QCOMPARE(dlg.Line2->backgroundRole(), QPalette::Light);
}

void F_ConfigTest::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("alignment");
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    QTest::newRow("Label1") << "Label1"
                            << "カードのMACアドレス ：" << right;
    QTest::newRow("Label2") << "Label2"
                            << "設定するIPアドレス ：" << right;
    QTest::newRow("Label6") << "Label6"
                            << "サブネットマスク ：" << right;
    QTest::newRow("Label7") << "Label7"
                            << "デフォルトゲートウェイ ：" << right;
    for (int n : {3, 4, 5, 8, 9, 10, 11, 12, 13}) {
        const QString name = QStringLiteral("Label%1").arg(n);
        QTest::newRow(qPrintable(name)) << name << "．" << int(Qt::AlignCenter);
    }
    QTest::newRow("L_MacAddr") << "L_MacAddr"
                               << "00-0A-1B-C2-3D-FF" << int(Qt::AlignLeft | Qt::AlignVCenter);
    QTest::newRow("C_SetBrw") << "C_SetBrw"
                              << "ブラウザで他のデータ設定を行う" << -1;
    QTest::newRow("Command2") << "Command2"
                              << "設　　定" << -1;
    QTest::newRow("Command1") << "Command1"
                              << "取　　消" << -1;
}

void F_ConfigTest::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, alignment);
    F_Config dlg(nullptr, m_area);
    auto* w = dlg.findChild<QWidget*>(name);
    QVERIFY(w != nullptr);
    QCOMPARE(w->focusPolicy() == Qt::NoFocus, qobject_cast<QLabel*>(w) != nullptr);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        QCOMPARE(label->text(), caption);
        QCOMPARE(int(label->alignment()), alignment);
    } else {
        QCOMPARE(qobject_cast<QAbstractButton*>(w)->text(), caption);
    }
}

void F_ConfigTest::opening()
{
    QVERIFY(open());
    QCOMPARE(m_dlg->T_IpAddr[0]->text(), QStringLiteral("192"));
    QCOMPARE(m_dlg->T_IpAddr[1]->text(), QStringLiteral("168"));
    QCOMPARE(m_dlg->T_IpAddr[2]->text(), QStringLiteral("1"));
    QCOMPARE(m_dlg->T_IpAddr[3]->text(), QString());
    QCOMPARE(focusName(), QStringLiteral("T_IpAddr_3"));
    QVERIFY(m_dlg->Command1->isDefault());
    QVERIFY(!m_dlg->Command2->isDefault());
    // Opening changes nothing of the result.
    QVERIFY(m_dlg->result().G_SetOk);
    QCOMPARE(m_dlg->result().G_IpAddr, earlierIp);
}

void F_ConfigTest::tabOrder()
{
    QVERIFY(open());
    m_dlg->C_SetBrw->setFocus();
    QStringList order;
    for (int i = 0; i < 15; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << focusName();
    }
    QCOMPARE(order,
             QStringList({"Command2", "Command1", "T_IpAddr_0", "T_IpAddr_1", "T_IpAddr_2",
                          "T_IpAddr_3", "T_SbMask_0", "T_SbMask_1", "T_SbMask_2", "T_SbMask_3",
                          "T_GateWay_0", "T_GateWay_1", "T_GateWay_2", "T_GateWay_3", "C_SetBrw"}));
}

void F_ConfigTest::typing_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("start"); // assigned by the program before the keys
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QTestEventList>("events");
    QTest::addColumn<QString>("text");  // the box's text afterwards
    QTest::addColumn<QString>("focus"); // where the focus is afterwards
    QTest::addColumn<int>("caret");     // -1: not checked
    QTest::addColumn<bool>("setIsDefault");

    QTestEventList homeThen9 = keys("12");
    homeThen9.addKeyClick(Qt::Key_Home);
    homeThen9.addKeyClick('9');
    QTestEventList xBetween = keys("12");
    xBetween.addKeyClick(Qt::Key_Left);
    xBetween.addKeyClick('x');
    QTestEventList half = keys("25");
    half.addKeyClick(Qt::Key_Left);
    half.addKeyClick('.');
    QTestEventList halfUp = keys("35");
    halfUp.addKeyClick(Qt::Key_Left);
    halfUp.addKeyClick('.');
    QTestEventList thirtyTab = keys("30");
    thirtyTab.addKeyClick(Qt::Key_Tab);
    QTestEventList tabOnly;
    tabOnly.addKeyClick(Qt::Key_Tab);
    QTestEventList zeroFiveTab = keys("05");
    zeroFiveTab.addKeyClick(Qt::Key_Tab);
    QTestEventList zeroTab = keys("0");
    zeroTab.addKeyClick(Qt::Key_Tab);
    QTestEventList eraseAll = keys("12");
    eraseAll.addKeyClick(Qt::Key_Backspace);
    eraseAll.addKeyClick(Qt::Key_Backspace);
    QTestEventList paste;
    paste.addKeyClick(Qt::Key_V, Qt::ControlModifier);
    QTestEventList minusBefore = keys("5");
    minusBefore.addKeyClick(Qt::Key_Home);
    minusBefore.addKeyClick('-');
    QTestEventList minusThenLeave = minusBefore;
    minusThenLeave.addKeyClick(Qt::Key_Tab);
    QTestEventList plusThenLeave = keys("5");
    plusThenLeave.addKeyClick(Qt::Key_Home);
    plusThenLeave.addKeyClick('+');
    plusThenLeave.addKeyClick(Qt::Key_Tab);

    // clang-format off
    QTest::newRow("1 9 2 advances to the next box") << "ip" << 0 << "" << "" << keys("192") << "192" << "T_IpAddr_1" << -1 << false;
    QTest::newRow("5 0 0 in mask box 3 goes to Set as 255") << "mask" << 3 << "" << "" << keys("500") << "255" << "Command2" << -1 << true;
    QTest::newRow("IP box 3 goes to Set, not to the mask") << "ip" << 3 << "" << "" << keys("150") << "150" << "Command2" << -1 << true;
    QTest::newRow("gateway box 3 goes to Set") << "gw" << 3 << "" << "" << keys("254") << "254" << "Command2" << -1 << true;
    QTest::newRow("30 and Tab keeps 30") << "gw" << 1 << "" << "" << thirtyTab << "30" << "T_GateWay_2" << -1 << false;
    QTest::newRow("a letter into an empty box") << "ip" << 3 << "" << "" << keys("a") << "" << "T_IpAddr_3" << 0 << false;
    QTest::newRow("1 2 and a full stop") << "ip" << 3 << "" << "" << keys("12.") << "12" << "T_IpAddr_3" << 2 << false;
    QTest::newRow("paste 1ab") << "mask" << 0 << "" << "1ab" << paste << "1" << "T_SbMask_0" << 1 << false;
    QTest::newRow("paste of trailing blanks") << "mask" << 0 << "" << "7  " << paste << "7" << "T_SbMask_0" << 1 << false;
    QTest::newRow("9 before 12 advances, then 255") << "ip" << 0 << "" << "" << homeThen9 << "255" << "T_IpAddr_1" << -1 << false;
    QTest::newRow("1x2 advances, then 1") << "ip" << 1 << "" << "" << xBetween << "1" << "T_IpAddr_2" << -1 << false;
    QTest::newRow("2.5 rounds to even 2") << "mask" << 1 << "" << "" << half << "2" << "T_SbMask_2" << -1 << false;
    QTest::newRow("3.5 rounds to even 4") << "mask" << 1 << "" << "" << halfUp << "4" << "T_SbMask_2" << -1 << false;
    QTest::newRow("a fourth character is refused") << "gw" << 2 << "255" << "" << keys("7") << "255" << "T_GateWay_2" << -1 << false;
    QTest::newRow("erasing leaves it empty") << "gw" << 0 << "" << "" << eraseAll << "" << "T_GateWay_0" << 0 << false;
    QTest::newRow("empty box left becomes 0") << "gw" << 0 << "" << "" << tabOnly << "0" << "T_GateWay_1" << -1 << false;
    QTest::newRow("0 left stays 0") << "gw" << 0 << "" << "" << zeroTab << "0" << "T_GateWay_1" << -1 << false;
    QTest::newRow("05 left becomes 5") << "gw" << 0 << "" << "" << zeroFiveTab << "5" << "T_GateWay_1" << -1 << false;
    QTest::newRow("+5 left becomes 5") << "gw" << 0 << "" << "" << plusThenLeave << "5" << "T_GateWay_1" << -1 << false;
    QTest::newRow("minus into an empty box") << "ip" << 3 << "" << "" << keys("-") << "" << "T_IpAddr_3" << 0 << false;
    QTest::newRow("minus before the digits is refused") << "ip" << 3 << "" << "" << minusBefore << "5" << "T_IpAddr_3" << 0 << false;
    QTest::newRow("minus refused, leaving keeps 5") << "ip" << 3 << "" << "" << minusThenLeave << "5" << "T_SbMask_0" << -1 << false;
    QTest::newRow("pasted minus is refused") << "ip" << 3 << "" << "-12" << paste << "12" << "T_IpAddr_3" << 2 << false;
    // clang-format on
}

void F_ConfigTest::typing()
{
    QFETCH(QString, group);
    QFETCH(int, index);
    QFETCH(QString, start);
    QFETCH(QString, clipboard);
    QFETCH(QTestEventList, events);
    QFETCH(QString, text);
    QFETCH(QString, focus);
    QFETCH(int, caret);
    QFETCH(bool, setIsDefault);

    QVERIFY(open());
    QLineEdit* b = box(group, index);
    // Start from an empty box (the opening proposal fills IP boxes 0 to 2).
    b->setFocus();
    b->clear();
    if (!clipboard.isEmpty()) {
        QGuiApplication::clipboard()->setText(clipboard);
    }
    if (!start.isEmpty()) {
        b->setText(start); // a full box moves the focus on, so bring it back
        b->setFocus();
    }
    const QString nextBefore = index < 3 ? box(group, index + 1)->text() : QString();

    type(events);

    QCOMPARE(b->text(), text);
    QCOMPARE(focusName(), focus);
    if (caret >= 0) {
        QCOMPARE(b->cursorPosition(), caret);
    }
    QCOMPARE(m_dlg->Command2->isDefault(), setIsDefault);
    QCOMPARE(m_dlg->Command1->isDefault(), !setIsDefault);
    if (index < 3 && focus == box(group, index + 1)->objectName()) {
        QCOMPARE(box(group, index + 1)->text(), nextBefore);
    }
}

void F_ConfigTest::fullWidthDigitFromInputMethod()
{
    QVERIFY(open());
    QLineEdit* b = m_dlg->T_IpAddr[3];
    QTest::keyClick(b, '4');
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("\uFF11"));
    QApplication::sendEvent(b, &commit);
    QCOMPARE(b->text(), QStringLiteral("4"));
    QCOMPARE(focusName(), QStringLiteral("T_IpAddr_3"));
}

void F_ConfigTest::closing_data()
{
    QTest::addColumn<QTestEventList>("events");
    QTest::addColumn<bool>("openBrwBefore");
    QTest::addColumn<int>("answer");      // the button that answers the confirmation
    QTest::addColumn<QString>("message"); // empty: no confirmation expected
    QTest::addColumn<bool>("setOk");
    QTest::addColumn<bool>("openBrw");
    QTest::addColumn<QStringList>("stored"); // IP, mask, gateway afterwards
    QTest::addColumn<bool>("stillOpen");

    const QStringList earlier{dotted(earlierIp), dotted(earlierMask), dotted(earlierGate)};
    const QString tail = QStringLiteral("\r\n以上の内容で設定を行います.");
    auto message = [&](const QString& ip, const QString& mask, const QString& gate) {
        return QStringLiteral("IPアドレス：") + ip + QStringLiteral("\r\nサブネットマスク：") +
               mask + QStringLiteral("\r\nデフォルトゲートウェイ：") + gate + tail;
    };
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    auto then = [](QTestEventList l, Qt::Key k) {
        l.addKeyClick(k);
        return l;
    };
    auto tabs = [](QTestEventList l, int n) {
        for (int i = 0; i < n; ++i) {
            l.addKeyClick(Qt::Key_Tab);
        }
        return l;
    };

    QTestEventList toggleBrowser = keys("150");
    toggleBrowser.addKeyClick(Qt::Key_Backtab);
    toggleBrowser.addKeyClick(Qt::Key_Space);
    toggleBrowser.addKeyClick(Qt::Key_Enter);
    // Back into IP box 0 after Set became the default; Enter while the box has the focus.
    QTestEventList focused05 = tabs(keys("150"), 2);
    addChars(focused05, "05");
    focused05.addKeyClick(Qt::Key_Return);
    QTestEventList focusedMinus = tabs(keys("150"), 2);
    addChars(focusedMinus, "5");
    focusedMinus.addKeyClick(Qt::Key_Home);
    focusedMinus.addKeyClick('-');
    focusedMinus.addKeyClick(Qt::Key_Return);
    QTestEventList fullMask = tabs(keys("150"), 6);
    addChars(fullMask, "2552552550");
    fullMask.addKeyClick(Qt::Key_Return);
    QTestEventList enterOnly;
    enterOnly.addKeyClick(Qt::Key_Return);
    QTestEventList escAfterSet = keys("150");
    escAfterSet.addKeyClick(Qt::Key_Escape);
    QTestEventList cancelClicked = keys("150");
    cancelClicked.addKeyClick(Qt::Key_Tab);
    cancelClicked.addKeyClick(Qt::Key_Space);

    const QString empty3 = QStringLiteral("...");
    const QStringList setEmpty{"192.168.1.150", "0.0.0.0", "0.0.0.0"};
    // clang-format off
    QTest::newRow("Enter right after opening cancels") << enterOnly << true << no << "" << false << true << earlier << false;
    QTest::newRow("50 and Enter cancels") << then(keys("50"), Qt::Key_Return) << true << no << "" << false << true << earlier << false;
    QTest::newRow("Esc cancels even with Set the default") << escAfterSet << true << no << "" << false << true << earlier << false;
    QTest::newRow("Enter on a focused Cancel cancels, though Set is the default")
        << then(then(keys("150"), Qt::Key_Tab), Qt::Key_Return) << true << no << "" << false << true
        << earlier << false;
    QTest::newRow("Space on Cancel cancels") << cancelClicked << true << no << "" << false << true << earlier << false;
    QTest::newRow("150, Enter, Yes stores empty boxes as 0") << then(keys("150"), Qt::Key_Return) << false << yes
        << message("192.168.1.150", empty3, empty3) << true << true << setEmpty << false;
    QTest::newRow("150, Enter, No changes nothing") << then(keys("150"), Qt::Key_Return) << false << no
        << message("192.168.1.150", empty3, empty3) << true << false << earlier << true;
    QTest::newRow("browser box cleared") << toggleBrowser << true << yes
        << message("192.168.1.150", empty3, empty3) << true << false << setEmpty << false;
    QTest::newRow("focused 05 is shown as typed, stored as 5") << focused05 << false << yes
        << message("05.168.1.150", empty3, empty3) << true << true
        << QStringList{"5.168.1.150", "0.0.0.0", "0.0.0.0"} << false;
    QTest::newRow("focused box cannot hold a negative") << focusedMinus << false << yes
        << message("5.168.1.150", empty3, empty3) << true << true
        << QStringList{"5.168.1.150", "0.0.0.0", "0.0.0.0"} << false;
    QTest::newRow("typed mask") << fullMask << false << yes
        << message("192.168.1.150", "255.255.255.0", empty3) << true << true
        << QStringList{"192.168.1.150", "255.255.255.0", "0.0.0.0"} << false;
    // clang-format on
}

void F_ConfigTest::closing()
{
    QFETCH(QTestEventList, events);
    QFETCH(bool, openBrwBefore);
    QFETCH(int, answer);
    QFETCH(QString, message);
    QFETCH(bool, setOk);
    QFETCH(bool, openBrw);
    QFETCH(QStringList, stored);
    QFETCH(bool, stillOpen);

    m_area.G_OpenBrw = openBrwBefore;
    QVERIFY(open());
    Answerer answerer(static_cast<QMessageBox::StandardButton>(answer));
    type(events);

    QCOMPARE(answerer.shown, !message.isEmpty());
    if (answerer.shown) {
        QCOMPARE(answerer.text, message);
        QCOMPARE(answerer.title, QStringLiteral("設定確認"));
        QCOMPARE(answerer.icon, QMessageBox::Question);
        QCOMPARE(answerer.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(answerer.defaultButton, QMessageBox::No);
    }
    QCOMPARE(m_dlg->result().G_SetOk, setOk);
    QCOMPARE(m_dlg->result().G_OpenBrw, openBrw);
    QCOMPARE(QStringList({dotted(m_dlg->result().G_IpAddr), dotted(m_dlg->result().G_SbMask),
                          dotted(m_dlg->result().G_GateWay)}),
             stored);
    QCOMPARE(m_dlg->isVisible(), stillOpen);
}

void F_ConfigTest::noLeavesEverything()
{
    m_area.G_LocalIp = {10, 20, 30, 40};
    QVERIFY(open());
    QTestEventList events = keys("150");
    events.addKeyClick(Qt::Key_Tab);
    events.addKeyClick(Qt::Key_Tab);
    addChars(events, "05");
    events.addKeyClick(Qt::Key_Return);
    {
        Answerer answerer(QMessageBox::No);
        type(events);
        QVERIFY(answerer.shown);
    }
    // The dialog becomes active again as a window manager would make it; that neither
    // proposes the address again nor counts as leaving the box that still has the focus.
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QStringList texts;
    for (QLineEdit* b : m_dlg->T_IpAddr) {
        texts << b->text();
    }
    QCOMPARE(texts, QStringList({"05", "20", "30", "150"}));
    QCOMPARE(focusName(), QStringLiteral("T_IpAddr_0"));
    QVERIFY(m_dlg->isVisible());
    QVERIFY(m_dlg->Command2->isDefault());
    QVERIFY(m_dlg->result().G_SetOk);
    QCOMPARE(m_dlg->result().G_IpAddr, earlierIp);

    // Set again, answered Yes: stores what was shown.
    Answerer answerer(QMessageBox::Yes);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(answerer.text.startsWith(QStringLiteral("IPアドレス：05.20.30.150\r\n")));
    QCOMPARE(m_dlg->result().G_IpAddr, behaviour::Octets({5, 20, 30, 150}));
}

void F_ConfigTest::confirmationKeys_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("setOk");
    QTest::newRow("Alt+Y answers Yes") << Qt::Key_Y << true << true;
    QTest::newRow("Alt+N answers No") << Qt::Key_N << true << false;
    QTest::newRow("Alt+C is no answer") << Qt::Key_C << false << false;
}

// The confirmation's buttons carry Qt's Japanese captions, and their letters still answer.
void F_ConfigTest::confirmationKeys()
{
    QFETCH(Qt::Key, key);
    QFETCH(bool, answered);
    QFETCH(bool, setOk);

    m_area.G_SetOk = false;
    QVERIFY(open());
    Answerer answerer(key);
    QTestEventList events = keys("150");
    events.addKeyClick(Qt::Key_Return);
    type(events);

    QVERIFY(answerer.shown);
    QCOMPARE(answerer.yesText, QStringLiteral("はい(&Y)"));
    QCOMPARE(answerer.noText, QStringLiteral("いいえ(&N)"));
    QCOMPARE(answerer.leftOpen, !answered);
    QCOMPARE(m_dlg->result().G_SetOk, setOk);
    QCOMPARE(m_dlg->isVisible(), !setOk);
}

void F_ConfigTest::closeBoxAfterSet()
{
    QVERIFY(open());
    m_dlg->close();
    QVERIFY(!m_dlg->isVisible());
    QVERIFY(!m_dlg->result().G_SetOk);
    QCOMPARE(m_dlg->result().G_IpAddr, earlierIp);
}

void F_ConfigTest::execCentredOnOwner()
{
    QWidget owner;
    owner.setGeometry(100, 100, 329, 145);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    F_Config dlg(&owner, m_area);
    QPoint centre;
    // Closing through the window's close box ends exec() like Cancel.
    QTimer::singleShot(100, &dlg, [&dlg, &centre] {
        centre = dlg.geometry().center();
        dlg.close();
    });
    dlg.exec();
    QVERIFY(!dlg.result().G_SetOk);
    QVERIFY((centre - owner.geometry().center()).manhattanLength() <= 2);
}

QTEST_MAIN(F_ConfigTest)
#include "F_ConfigTest.moc"
