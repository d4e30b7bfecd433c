// The whole road of a card, for real: run by e2e.sh inside the "pc" test namespace, with the
// simulated card (torvane-cardsim) started in the "card" namespace. This test plays the
// operator at the real windows; sockets, neighbour table, clock and web engine are real.
#include "F_Browser.h"
#include "F_Config.h"
#include "F_Main.h"
#include "ModalOperator.h"
#include "Translations.h"
#include "linux/HelperPort.h"

#include "WebViewLoader.h"
#include <csignal>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kSearching = QStringLiteral("Web/SNMPカード検索中...");

// Answers every message box but the confirmation, keeping the texts in order.
struct Boxes : QObject {
    QStringList texts;
    QStringList titles;
    /// How long a box stays open before OK, as an operator reading it.
    int holdMs = 0;
    /// Runs when a box appears: the test's own checks run only once every box has closed,
    /// since the boxes nest inside the window's handler.
    std::function<void()> onShow;
    Boxes()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->button(QMessageBox::Yes) != nullptr || box == current) {
                return;
            }
            current = box;
            titles << box->windowTitle();
            texts << box->text();
            if (onShow) {
                onShow();
            }
            QTimer::singleShot(holdMs, box, [box] { box->accept(); });
        });
        timer.start(20);
    }
    QTimer timer;
    QPointer<QMessageBox> current;
};

// Answers the question about a temporary address, keeping its text; with SHOTS set in the
// environment, the question is saved there as a picture first.
struct TemporaryQuestion : QObject {
    explicit TemporaryQuestion(bool answerYes) : yes(answerYes)
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box == current || !box->isActiveWindow() ||
                box->windowTitle() != QStringLiteral("一時IPアドレス")) {
                return;
            }
            current = box;
            texts << box->text();
            QCOMPARE_NE(box->defaultButton(), nullptr);
            isNoDefault = box->defaultButton() == box->button(QMessageBox::No);
            shoot(box, QStringLiteral("temporary-address-question.png"));
            (yes ? box->button(QMessageBox::Yes) : box->button(QMessageBox::No))->click();
        });
        timer.start(20);
    }
    static void shoot(QWidget* window, const QString& name)
    {
        const QString dir = qEnvironmentVariable("SHOTS");
        if (dir.isEmpty()) {
            return;
        }
        QTest::qWait(300);
        const QRect r = window->frameGeometry();
        window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).save(dir + '/' + name);
    }
    bool yes;
    bool isNoDefault = false;
    QStringList texts;
    QTimer timer;
    QPointer<QMessageBox> current;
};

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// A simulated card in the card namespace.
class Card {
public:
    explicit Card(const QStringList& options)
    {
        QStringList args{QStringLiteral("netns"),         QStringLiteral("exec"),
                         qEnvironmentVariable("CARD_NS"), qEnvironmentVariable("CARDSIM"),
                         QStringLiteral("--interface"),   QStringLiteral("tvcard0"),
                         QStringLiteral("--format"),      QStringLiteral("kv"),
                         QStringLiteral("--interval"),    QStringLiteral("1")};
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ip"), args + options);
        m_process.waitForStarted();
    }
    ~Card()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString output()
    {
        m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
        return m_output;
    }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    int exitCode() const { return m_process.exitCode(); }

private:
    QProcess m_process;
    QString m_output;
};

// Types into whatever holds the focus, one key at a time, as a keyboard would.
void type(const QString& keys)
{
    for (const QChar c : keys) {
        if (c == QLatin1Char('\t')) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } else {
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        }
    }
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariable("CARD_NS").isEmpty(), "run me through e2e.sh");
        setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
        // Pictures for docs/ show the standard buttons as the program shows them.
        if (!qEnvironmentVariable("SHOTS").isEmpty()) {
            installQtTranslations(*qApp);
        }
        m_window = std::make_unique<F_Main>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->Command1->click();
        QVERIFY(m_window->Winsock1->isBound());
        const QString link =
            run(QStringLiteral("ip"),
                {QStringLiteral("-n"), qEnvironmentVariable("CARD_NS"), QStringLiteral("-br"),
                 QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("tvcard0")});
        m_cardMac = link.simplified().section(QLatin1Char(' '), 2, 2);
        QCOMPARE(m_cardMac.size(), 17);
    }

    void cleanupTestCase()
    {
        m_window->close();
        m_window.reset();
    }

    void setAssignsTheCardAndOpensItsPage()
    {
        Card card({QStringLiteral("--serve-http"), QStringLiteral("--serve-seconds"),
                   QStringLiteral("120"), QStringLiteral("--timeout"), QStringLiteral("30")});
        QString shownMac;
        Boxes boxes;
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            shownMac = d->L_MacAddr->text();
            d->activateWindow();
            QTRY_COMPARE(QApplication::focusWidget(), d->T_IpAddr[3]);
            // The PC's 10.77.0 is proposed; the operator completes address, mask, gateway.
            type(QStringLiteral("20\t255255255") + QStringLiteral("0\t10\t77\t0\t254"));
            QCOMPARE(QApplication::focusWidget(), d->Command2);
            QTest::keyClick(d->Command2, Qt::Key_Return);
        });

        QTRY_VERIFY_WITH_TIMEOUT(op.acted(), 15000);
        QCOMPARE(shownMac, m_cardMac.toUpper().replace(QLatin1Char(':'), QLatin1Char('-')));
        QTRY_VERIFY_WITH_TIMEOUT(card.output().contains(QStringLiteral("event=assigned")), 15000);
        QVERIFY2(card.output().contains(
                     QStringLiteral("address=10.77.0.20 mask=255.255.255.0 gateway=10.77.0.254")),
                 qPrintable(card.output()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->inputBlocked(), 15000);
        // This test runs as root, where the web engine has no sandbox: a box says so.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.titles, QStringList{QStringLiteral("注意")}, 15000);
        QVERIFY(boxes.texts.front().startsWith(
            QStringLiteral("rootで実行中のため, ブラウザはサンドボックスなしで動作しています.")));
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(m_window->Winsock1->isBound());

        const QString neigh =
            run(QStringLiteral("ip"),
                {QStringLiteral("neigh"), QStringLiteral("show"), QStringLiteral("10.77.0.20")});
        QVERIFY2(neigh.contains(QStringLiteral("dev tvpc0 lladdr ") + m_cardMac) &&
                     neigh.contains(QStringLiteral("PERMANENT")),
                 qPrintable(neigh));

        F_Browser* browser = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<F_Browser*>(w); b != nullptr && b->isVisible()) {
                browser = b;
            }
        }
        QVERIFY(browser != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(
            browser->windowTitle(),
            QStringLiteral("Web/SNMP Card ") +
                m_cardMac.toUpper().replace(QLatin1Char(':'), QLatin1Char('-')),
            30000);
    }

    void cancelSendsNothingAndListensAgain()
    {
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-02"),
                   QStringLiteral("--timeout"), QStringLiteral("4")});
        // The card keeps asking until it gives up; every dialog it opens is cancelled.
        int dialogs = 0;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&dialogs] {
            if (auto* d = qobject_cast<F_Config*>(QApplication::activeModalWidget())) {
                ++dialogs;
                QTest::keyClick(d, Qt::Key_Escape);
            }
        });
        cancel.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(card.finished(), 15000);
        QVERIFY(dialogs >= 1);
        QCOMPARE(card.exitCode(), 3); // timed out: no reply was sent
        QVERIFY(!run(QStringLiteral("ip"), {QStringLiteral("neigh")})
                     .contains(QStringLiteral("02:00:00:00:00:02")));
        QCOMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(m_window->Winsock1->isBound());
    }

    void anotherCardInTheSameSearch()
    {
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-03"),
                   QStringLiteral("--timeout"), QStringLiteral("20")});
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            const QString octets[3][4] = {{QStringLiteral("10"), QStringLiteral("77"),
                                           QStringLiteral("0"), QStringLiteral("21")},
                                          {QStringLiteral("255"), QStringLiteral("255"),
                                           QStringLiteral("255"), QStringLiteral("0")},
                                          {QStringLiteral("10"), QStringLiteral("77"),
                                           QStringLiteral("0"), QStringLiteral("1")}};
            for (int i = 0; i < 4; ++i) {
                d->T_IpAddr[i]->setText(octets[0][i]);
                d->T_SbMask[i]->setText(octets[1][i]);
                d->T_GateWay[i]->setText(octets[2][i]);
            }
            d->C_SetBrw->setChecked(false);
            d->Command2->click();
        });
        QTRY_VERIFY_WITH_TIMEOUT(card.finished(), 25000);
        QVERIFY(op.acted());
        QCOMPARE(card.exitCode(), 0);
        QVERIFY2(card.output().contains(
                     QStringLiteral("address=10.77.0.21 mask=255.255.255.0 gateway=10.77.0.1")),
                 qPrintable(card.output()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->inputBlocked(), 15000);
        QCOMPARE(m_window->Text1->toPlainText(), kSearching);
    }

    // The first card is given an address outside tvpc0's network: it gets its reply but no
    // neighbour entry. Its assignment ends all the same, so the next card is answered at once
    // instead of being refused while the first one's is still open.
    void aCardOutsideTheNetworkHoldsUpNoOther()
    {
        Boxes boxes;
        // No temporary address: the box of a card this PC cannot reach.
        TemporaryQuestion no(false);
        {
            Card first({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-0A"),
                        QStringLiteral("--timeout"), QStringLiteral("20")});
            ModalOperator<QMessageBox> yes(
                [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
            ModalOperator<F_Config> op([](F_Config* d) {
                fill(d, {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("0"),
                         QStringLiteral("20")});
            });
            QTRY_VERIFY_WITH_TIMEOUT(first.finished(), 25000);
            QCOMPARE(first.exitCode(), 0);
            QVERIFY2(first.output().contains(QStringLiteral("address=192.168.0.20 ")),
                     qPrintable(first.output()));
            QTRY_VERIFY_WITH_TIMEOUT(boxes.texts.size() == 1 && !boxes.current, 15000);
            QVERIFY2(boxes.texts.front().startsWith(QStringLiteral("IPアドレス 192.168.0.20 は, ")),
                     qPrintable(boxes.texts.front()));
            QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
            QCOMPARE(no.texts.size(), 1);
        }
        // Well inside the 360 s an open assignment would hold the next card up.
        Card second({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-0B"),
                     QStringLiteral("--timeout"), QStringLiteral("10")});
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([](F_Config* d) {
            fill(d, {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"),
                     QStringLiteral("26")});
        });
        // A refused reply would open the dialog again: cancelled, so the test fails, not hangs.
        QTimer cancelAgain;
        connect(&cancelAgain, &QTimer::timeout, this, [&op] {
            auto* d = qobject_cast<F_Config*>(QApplication::activeModalWidget());
            if (op.acted() && d != nullptr && d->isActiveWindow()) {
                QTest::keyClick(d, Qt::Key_Escape);
            }
        });
        cancelAgain.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(second.finished(), 15000);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.output().contains(QStringLiteral("address=10.77.0.26 ")),
                 qPrintable(second.output()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->inputBlocked(), 15000);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(run(QStringLiteral("ip"), {QStringLiteral("neigh")})
                    .contains(QStringLiteral("10.77.0.26 dev tvpc0 lladdr 02:00:00:00:00:0b")));
    }

    // Another MAC's permanent entry holds the card's address: the helper refuses to replace
    // it, the page opens all the same (the operator asked for it), and the box says why there
    // is no entry.
    void aRefusedEntryStillOpensThePage()
    {
        const QString foreign = QStringLiteral("02:00:00:00:00:99");
        run(QStringLiteral("ip"),
            {QStringLiteral("neigh"), QStringLiteral("add"), QStringLiteral("10.77.0.27"),
             QStringLiteral("lladdr"), foreign, QStringLiteral("dev"), QStringLiteral("tvpc0"),
             QStringLiteral("nud"), QStringLiteral("permanent")});
        QVERIFY(run(QStringLiteral("ip"), {QStringLiteral("neigh")}).contains(foreign));
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-0C"),
                   QStringLiteral("--serve-http"), QStringLiteral("--serve-seconds"),
                   QStringLiteral("60"), QStringLiteral("--timeout"), QStringLiteral("20")});
        Boxes boxes;
        QStringList pagesWhenBoxShown;
        boxes.onShow = [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (qobject_cast<F_Browser*>(w) != nullptr && w->isVisible()) {
                    pagesWhenBoxShown
                        << w->findChild<QComboBox*>(QStringLiteral("Combo1"))->currentText();
                }
            }
        };
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([](F_Config* d) {
            fill(d,
                 {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"),
                  QStringLiteral("27")},
                 true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(card.output().contains(QStringLiteral("event=assigned")), 25000);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("エラー発生")), 20000);
        const QString text = boxes.texts.at(boxes.titles.indexOf(QStringLiteral("エラー発生")));
        QCOMPARE(text, QStringLiteral(
                           "ARPエントリを登録できませんでした: 他の機器が使用中のIPアドレスです.\n"
                           "カードにはIPアドレス 10.77.0.27 を送信しました.\n"
                           "カードのページはARPエントリなしで開きました. 表示されないときは, "
                           "このPCのARPテーブルを確かめてください. 検索は続きます."));
        // The page was open before the box came.
        QCOMPARE(pagesWhenBoxShown.value(boxes.titles.indexOf(QStringLiteral("エラー発生"))),
                 QStringLiteral("http://10.77.0.27/"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->inputBlocked(), 15000);
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        // The other device's entry is as it was.
        const QString neigh =
            run(QStringLiteral("ip"),
                {QStringLiteral("neigh"), QStringLiteral("show"), QStringLiteral("10.77.0.27")});
        QVERIFY2(neigh.contains(foreign) && neigh.contains(QStringLiteral("PERMANENT")),
                 qPrintable(neigh));
        run(QStringLiteral("ip"),
            {QStringLiteral("neigh"), QStringLiteral("del"), QStringLiteral("10.77.0.27"),
             QStringLiteral("dev"), QStringLiteral("tvpc0")});
    }

    // The helper refuses the PC's own address; the card keeps asking every second. The box
    // stays while the operator reads it, no dialog opens over it, and after OK the search goes
    // on: the card's next request opens the dialog again.
    void aRefusalStaysReadableWhileTheCardKeepsAsking()
    {
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-08"),
                   QStringLiteral("--timeout"), QStringLiteral("20")});
        Boxes boxes;
        boxes.holdMs = 3000;
        QString statusWhileOpen;
        boxes.onShow = [&] { statusWhileOpen = m_window->Text1->toPlainText(); };
        int dialogs = 0;
        bool dialogOverBox = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* d = qobject_cast<F_Config*>(QApplication::activeModalWidget());
            dialogOverBox = dialogOverBox || (d != nullptr && boxes.current);
        });
        watch.start(20);
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            ++dialogs;
            fill(d, {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"),
                     QStringLiteral("1")});
        });
        QTRY_VERIFY_WITH_TIMEOUT(boxes.texts.size() == 1, 25000);
        QCOMPARE(boxes.titles.front(), QStringLiteral("エラー発生"));
        QCOMPARE(
            boxes.texts.front(),
            QStringLiteral("IPアドレスをカードに送信できませんでした: このPCのIPアドレスです.\n"
                           "カードにIPアドレスは送信されていません.\n"
                           "カードが要求を繰り返すと設定画面がもう一度開きます. 検索は続きます."));
        QCOMPARE(statusWhileOpen, QStringLiteral("IPアドレス設定中..."));
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.current, 10000);
        QCOMPARE(dialogs, 1);
        // After OK the card's next request opens the dialog again; this time it is cancelled.
        int reopened = 0;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&reopened] {
            if (auto* d = qobject_cast<F_Config*>(QApplication::activeModalWidget())) {
                ++reopened;
                QTest::keyClick(d, Qt::Key_Escape);
            }
        });
        cancel.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(reopened >= 1, 10000);
        QVERIFY(!dialogOverBox);
        QCOMPARE(boxes.texts.size(), 1);
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(m_window->Winsock1->isBound());
    }

    // The PC's default route leaves by tvpc1 (10.78.0.1); the card hangs on tvpc0 (10.77.0.1).
    void proposalAndServerComeFromTheCardsInterface()
    {
        QStringList proposed;
        const QString output =
            assignOnce(QStringLiteral("02-00-00-00-00-04"), QStringLiteral("22"), proposed);
        QVERIFY2(!output.startsWith(QLatin1Char('(')), qPrintable(output));
        QCOMPARE(proposed, QStringList({"10", "77", "0"}));
        QVERIFY2(output.contains(QStringLiteral("server=10.77.0.1 ")), qPrintable(output));
        QCOMPARE(m_window->Text1->toPlainText(), kSearching);
    }

    // tvpc0 has no address: nothing is proposed, the reply names no server, the card still
    // gets its address, and the window says this PC cannot reach it from tvpc0.
    void cardOnANicWithoutAddress()
    {
        QStringList proposed;
        Boxes boxes;
        TemporaryQuestion no(false);
        const QString output =
            assignOnce(QStringLiteral("02-00-00-00-00-05"), QStringLiteral("23"), proposed);
        QVERIFY2(!output.startsWith(QLatin1Char('(')), qPrintable(output));
        QCOMPARE(proposed, QStringList({"", "", ""}));
        QVERIFY2(output.contains(QStringLiteral("server=0.0.0.0 ")), qPrintable(output));
        QTRY_COMPARE(boxes.texts.size(), 1);
        QCOMPARE(boxes.texts.front(),
                 QStringLiteral("IPアドレス 10.77.0.23 は, カードがつながっているインタフェース "
                                "tvpc0 のネットワーク外です.\n"
                                "カードにはIPアドレス 10.77.0.23 を送信しました.\n"
                                "このPCからはカードに接続できません. カードのページは, "
                                "そのネットワークにつながったPCから開いてください."));
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(!run(QStringLiteral("ip"), {QStringLiteral("neigh")})
                     .contains(QStringLiteral("10.77.0.23")));
        QVERIFY(m_window->Winsock1->isBound());
        // The question came first, No the default, and No left nothing behind.
        QCOMPARE(no.texts.size(), 1);
        QVERIFY(no.isNoDefault);
        QVERIFY(!run(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("addr")})
                     .contains(QStringLiteral("10.77.0.254")));
    }

    // The card is given an address outside every network of tvpc0 (none, a link-local one or
    // another subnet, as e2e.sh sets up): Yes adds a temporary address of the card's subnet,
    // through which its page opens in the browser window; Stop takes address and route away.
    void temporaryAddressOpensThePage()
    {
        Card card({QStringLiteral("--serve-http"), QStringLiteral("--serve-seconds"),
                   QStringLiteral("120"), QStringLiteral("--timeout"), QStringLiteral("30")});
        Boxes boxes;
        TemporaryQuestion yes(true);
        ModalOperator<QMessageBox> confirm(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            proposal(d);
            fill(d, {"192", "168", "0", "20"}, true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(card.output().contains(QStringLiteral("event=assigned")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(yes.texts.size(), 1, 15000);
        QCOMPARE(yes.texts.front(),
                 QStringLiteral("IPアドレス 192.168.0.20 は, カードがつながっているインタフェース "
                                "tvpc0 のネットワーク外です.\n"
                                "インタフェース tvpc0 に一時IPアドレス 192.168.0.254 を追加して, "
                                "カードのページを開きますか?\n"
                                "一時IPアドレスは検索の終了とともに削除されます."));
        QVERIFY(yes.isNoDefault);
        const auto addresses = [] {
            return run(QStringLiteral("ip"),
                       {QStringLiteral("-4"), QStringLiteral("addr"), QStringLiteral("show"),
                        QStringLiteral("dev"), QStringLiteral("tvpc0")});
        };
        const auto routes = [] {
            return run(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("route")});
        };
        QTRY_VERIFY_WITH_TIMEOUT(addresses().contains(QStringLiteral("inet 192.168.0.254/32")),
                                 10000);
        QVERIFY2(routes().contains(QStringLiteral("192.168.0.20 dev tvpc0 proto static scope link "
                                                  "src 192.168.0.254")),
                 qPrintable(routes()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->inputBlocked(), 20000);

        F_Browser* browser = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((browser = visibleBrowser()) != nullptr, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            browser->windowTitle(),
            QStringLiteral("Web/SNMP Card ") +
                m_cardMac.toUpper().replace(QLatin1Char(':'), QLatin1Char('-')),
            30000);
        TemporaryQuestion::shoot(browser, QStringLiteral("temporary-address-page.png"));
        // Only the root notice: no failure box on this road.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.titles, QStringList{QStringLiteral("注意")}, 15000);

        m_window->Command2->click();
        QTRY_VERIFY_WITH_TIMEOUT(!addresses().contains(QStringLiteral("192.168.0.254")), 5000);
        QVERIFY2(!routes().contains(QStringLiteral("192.168.0.20")), qPrintable(routes()));
        browser->close();
        m_window->Command1->click();
        QVERIFY(m_window->Winsock1->isBound());
    }

    void interfaceRemovedDuringTheWait()
    {
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-06"),
                   QStringLiteral("--timeout"), QStringLiteral("20")});
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            fill(d,
                 {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"),
                  QStringLiteral("24")},
                 true);
        });
        // The wait runs in the window's own event loop: the link goes from a timer inside it,
        // once the card has its address.
        bool removed = false;
        QTimer remove;
        connect(&remove, &QTimer::timeout, this, [&] {
            if (!removed && m_window->inputBlocked() &&
                card.output().contains(QStringLiteral("event=assigned"))) {
                removed = true;
                run(QStringLiteral("ip"),
                    {QStringLiteral("link"), QStringLiteral("del"), QStringLiteral("tvpc0")});
            }
        });
        remove.start(50);
        Boxes boxes;
        QTRY_VERIFY_WITH_TIMEOUT(removed && !m_window->inputBlocked(), 30000);
        QTRY_COMPARE(boxes.texts.size(), 1);
        QCOMPARE(boxes.texts.front(),
                 QStringLiteral("インタフェース tvpc0 がなくなりました.\n"
                                "カードにはIPアドレス 10.77.0.24 を送信しました.\n"
                                "ケーブルとネットワークの設定を確かめてください. "
                                "検索は続きます."));
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(m_window->Winsock1->isBound());
        QVERIFY(m_window->isVisible());
        for (QWidget* w : QApplication::topLevelWidgets()) {
            QVERIFY(qobject_cast<F_Browser*>(w) == nullptr || !w->isVisible());
        }
    }

    void interfaceRemovedWhileTheDialogIsOpen()
    {
        Card card({QStringLiteral("--mac"), QStringLiteral("02-00-00-00-00-07"),
                   QStringLiteral("--timeout"), QStringLiteral("20")});
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            run(QStringLiteral("ip"),
                {QStringLiteral("link"), QStringLiteral("del"), QStringLiteral("tvpc0")});
            fill(d,
                 {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"),
                  QStringLiteral("25")},
                 true);
        });
        Boxes boxes;
        QTRY_VERIFY_WITH_TIMEOUT(op.acted(), 25000);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.texts.size() == 1, 15000);
        QCOMPARE(boxes.texts.front(),
                 QStringLiteral("インタフェース tvpc0 がなくなりました.\n"
                                "カードにIPアドレスは送信されていません.\n"
                                "ケーブルとネットワークの設定を確かめてください. "
                                "検索は続きます."));
        QTRY_COMPARE(m_window->Text1->toPlainText(), kSearching);
        QVERIFY(m_window->Winsock1->isBound());
        QVERIFY(m_window->isVisible());
    }

    void helperDiesDuringTheSearch()
    {
        const auto pid = helperPid(*m_window->Winsock1);
        QVERIFY(pid > 0);
        QString text;
        ModalOperator<QMessageBox> ok([&text](QMessageBox* box) {
            text = box->text();
            box->accept();
        });
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(ok.acted(), 5000);
        QVERIFY2(text.contains(QStringLiteral("補助プログラム torvane-helper が終了しました")),
                 qPrintable(text));
        QTRY_VERIFY(m_window->Command1->isEnabled());
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->M_Search);
        // Started again, the search works with a new helper.
        m_window->Command1->click();
        QVERIFY(m_window->Winsock1->isBound());
        QVERIFY(helperPid(*m_window->Winsock1) != pid);
    }

private:
    // A card with this MAC is given 10.77.0.<last>/24 without a gateway; returns what the card
    // printed, with the dialog's proposal in proposed, once the window takes input again.
    QString assignOnce(const QString& mac, const QString& last, QStringList& proposed)
    {
        Card card(
            {QStringLiteral("--mac"), mac, QStringLiteral("--timeout"), QStringLiteral("20")});
        ModalOperator<QMessageBox> yes(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        ModalOperator<F_Config> op([&](F_Config* d) {
            proposed = proposal(d);
            fill(d, {QStringLiteral("10"), QStringLiteral("77"), QStringLiteral("0"), last});
        });
        if (!QTest::qWaitFor([&card] { return card.finished(); }, 25000) ||
            !QTest::qWaitFor([this] { return !m_window->inputBlocked(); }, 15000)) {
            return QStringLiteral("(no answer) ") + card.output();
        }
        const QString output = card.output();
        return output.contains(QStringLiteral("address=10.77.0.") + last + QLatin1Char(' '))
                   ? output
                   : QStringLiteral("(another address) ") + output;
    }

    static F_Browser* visibleBrowser()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<F_Browser*>(w); b != nullptr && b->isVisible()) {
                return b;
            }
        }
        return nullptr;
    }

    // What the dialog proposes once it is active, as the operator sees it.
    static QStringList proposal(F_Config* d)
    {
        d->activateWindow();
        if (!QTest::qWaitFor([d] { return QApplication::focusWidget() == d->T_IpAddr[3]; }, 5000)) {
            return {};
        }
        return {d->T_IpAddr[0]->text(), d->T_IpAddr[1]->text(), d->T_IpAddr[2]->text()};
    }
    // Fills address, mask 255.255.255.0 and gateway 0.0.0.0, and confirms.
    static void fill(F_Config* d, const QStringList& ip, bool openBrowser = false)
    {
        const char* mask[] = {"255", "255", "255", "0"};
        for (int i = 0; i < 4; ++i) {
            d->T_IpAddr[i]->setText(ip[i]);
            d->T_SbMask[i]->setText(QString::fromLatin1(mask[i]));
            d->T_GateWay[i]->setText(QStringLiteral("0"));
        }
        d->C_SetBrw->setChecked(openBrowser);
        d->Command2->click();
    }

    std::unique_ptr<F_Main> m_window;
    QString m_cardMac;
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
