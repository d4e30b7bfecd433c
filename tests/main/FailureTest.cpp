// What the main window does when part of an assignment fails: the operator is told in the
// window, nothing is shown as done that was not, and the search goes on (or, when it cannot,
// the window returns to idle so that Start can be tried again). Also how the window looks
// while a card is assigned.
#include "MainWindowFixture.h"

#include "CardRequest.h"
#include "F_Browser.h"
#include "F_Config.h"
#include "FakeWebView.h"
#include "ModalOperator.h"
#include "PublicArea.h"
#include "Resources.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kSearching = QStringLiteral("Web/SNMPカード検索中...");

QByteArray request()
{
    const auto v = testing_support::cardRequest();
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// Types the last octet (and, when given, all four) and confirms with Set and Yes.
void set(F_Config* dialog, const QStringList& ip = {}, bool openBrowser = false)
{
    if (ip.isEmpty()) {
        QTest::keyClicks(dialog->T_IpAddr[3], QStringLiteral("20"));
    } else {
        for (int i = 0; i < 4; ++i) {
            dialog->T_IpAddr[i]->setText(ip[i]);
        }
    }
    const char* mask[] = {"255", "255", "255", "0"};
    for (int i = 0; i < 4; ++i) {
        dialog->T_SbMask[i]->setText(QString::fromLatin1(mask[i]));
        dialog->T_GateWay[i]->setText(QStringLiteral("0"));
    }
    dialog->C_SetBrw->setChecked(openBrowser);
    auto* yes = new ModalOperator<QMessageBox>(
        [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    yes->setParent(dialog);
    dialog->Command2->click();
}

// Answers the next message box, keeping its text.
struct BoxWatch : QObject {
    QString title;
    QString text;
    int shown = 0;
    BoxWatch()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                ++shown;
                box->accept();
            }
        });
        timer.start(5);
    }
    QTimer timer;
};

void failWith(FakeUdpSocket* socket, int number, const QString& why)
{
    socket->failBind = [number, why] {
        throw SearchFailure(number, why, QStringLiteral("detail"));
    };
}

bool idle(F_Main& w)
{
    return w.Command1->isEnabled() && !w.Command2->isEnabled() && w.Command3->isEnabled() &&
           !w.M_Search && !w.Timer1->isActive();
}

} // namespace

class FailureTest : public QObject {
    Q_OBJECT
private slots:
    void init() { PublicArea::resetAll(); }

    void aFailedBindAtStartLeavesTheWindowIdle()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        const QString why =
            QStringLiteral("UDPポート67は他のプログラム (dnsmasq, pid 812) が使用中です.");
        failWith(f.socket, 98, why);
        BoxWatch box;
        w.Command1->click();
        QCOMPARE(box.shown, 1);
        QCOMPARE(box.title, QStringLiteral("エラー発生"));
        QCOMPARE(box.text, QStringLiteral("エラーコード : 98\r\n") + why);
        QVERIFY(idle(w));
        QVERIFY(w.isVisible());
        QCOMPARE(w.Text1->toPlainText(), QString());
        // Fixed by the operator, the next Start works.
        f.socket->failBind = nullptr;
        w.Command1->click();
        QVERIFY(f.socket->bound);
        QCOMPARE(w.Text1->toPlainText(), kSearching);
    }

    void aFailedBindAfterACardLeavesTheWindowIdle()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        w.Command1->click();
        ModalOperator<F_Config> cancel([&](F_Config* d) {
            failWith(f.socket, 98, QStringLiteral("使用中"));
            d->Command1->click();
        });
        BoxWatch box;
        f.socket->deliver(request());
        QVERIFY(cancel.acted());
        QCOMPARE(box.shown, 1);
        QVERIFY(idle(w));
    }

    void aReplyThatCannotBeSentIsReportedAndNothingElseHappens()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        f.socket->failSend = [] {
            throw SearchFailure(19, QStringLiteral("インタフェースがありません"),
                                QStringLiteral("No such device"));
        };
        ModalOperator<F_Config> op([](F_Config* d) { set(d, {}, true); });
        f.socket->deliver(request());
        QVERIFY(op.acted());
        QVERIFY(f.neighbours->entries.empty());
        QCOMPARE(f.clock->readings, 0);
        QCOMPARE(
            w.Text1->toPlainText(),
            QStringLiteral("IPアドレスを設定できませんでした (インタフェースがありません).\n") +
                kSearching);
        QVERIFY(f.socket->bound);
        QVERIFY(w.M_Search && !w.inputBlocked());
        QCOMPARE(f.socket->remoteHost(), QStringLiteral("0.0.0.0"));
    }

    void aRefusedNeighbourEntryIsShownWithItsCause()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        f.neighbours->answer = "他の機器が使用中のIPアドレスです";
        ModalOperator<F_Config> op([](F_Config* d) { set(d); });
        f.socket->deliver(request());
        QCOMPARE(f.socket->sent.size(), 1);
        QCOMPARE(w.Text1->toPlainText(),
                 QStringLiteral(
                     "ARPエントリを登録できませんでした (他の機器が使用中のIPアドレスです).\n") +
                     kSearching);
        QVERIFY(f.socket->bound);
    }

    void aCardOnAnInterfaceWithoutAddressGetsNoProposalAndNoServer()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        f.socket->interfaceAddress.clear();
        f.socket->interfaceName = QStringLiteral("enp3s0");
        w.Command1->click();
        QStringList proposed;
        ModalOperator<F_Config> op([&](F_Config* d) {
            for (QLineEdit* box : d->T_IpAddr) {
                proposed << box->text();
            }
            set(d, {QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("2"),
                    QStringLiteral("3")});
        });
        f.socket->deliver(request());
        QCOMPARE(proposed, QStringList({"", "", "", ""}));
        QCOMPARE(f.socket->sent.size(), 1); // the card still gets its address
        QCOMPARE(f.socket->sent.front().data.mid(20, 4), QByteArray(4, '\0'));
        QVERIFY(f.neighbours->entries.empty());
        QVERIFY(w.Text1->toPlainText().startsWith(QStringLiteral("enp3s0 のネットワーク外")));
    }

    void theProposalAndServerComeFromTheArrivalInterface()
    {
        // The default-route interface says 192.168.0.5; the card came in on another network.
        MainWindowFixture f(QStringLiteral("192.168.0.5"));
        F_Main& w = *f.window;
        f.socket->interfaceAddress = QStringLiteral("10.77.0.1");
        w.Command1->click();
        QStringList proposed;
        ModalOperator<F_Config> op([&](F_Config* d) {
            for (QLineEdit* box : d->T_IpAddr) {
                proposed << box->text();
            }
            set(d);
        });
        f.socket->deliver(request());
        QCOMPARE(proposed, QStringList({"10", "77", "0", ""}));
        QCOMPARE(f.socket->sent.front().data.mid(16, 8),
                 QByteArray("\x0A\x4D\x00\x14\x0A\x4D\x00\x01", 8));
        QCOMPARE(f.neighbours->entries.size(), std::size_t(1));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
    }

    void anAddressOutsideTheInterfacesSubnetIsSentButNamedUnreachable()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        ModalOperator<F_Config> op([](F_Config* d) {
            set(d,
                {QStringLiteral("172"), QStringLiteral("16"), QStringLiteral("0"),
                 QStringLiteral("9")},
                true);
        });
        QStringList navigated;
        F_Browser::setWebViewFactory([&] {
            auto view = std::make_unique<FakeWebView>();
            view->onNavigate = [&](const QString& url) { navigated << url; };
            return view;
        });
        f.socket->deliver(request());
        QCOMPARE(f.socket->sent.size(), 1);
        QVERIFY(f.neighbours->entries.empty());
        QVERIFY(navigated.isEmpty());
        QCOMPARE(
            w.Text1->toPlainText(),
            QStringLiteral("eth9 のネットワーク外のため, このPCからカードに接続できません.\n") +
                kSearching);
        F_Browser::unload();
    }

    void anInterfaceGoneDuringTheWaitStopsTheBrowserAndIsReported()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        f.clock->onReading = [&](int) { f.socket->interfaceExists = false; };
        QStringList navigated;
        F_Browser::setWebViewFactory([&] {
            auto view = std::make_unique<FakeWebView>();
            view->onNavigate = [&](const QString& url) { navigated << url; };
            return view;
        });
        ModalOperator<F_Config> op([](F_Config* d) { set(d, {}, true); });
        f.socket->deliver(request());
        QVERIFY(navigated.isEmpty());
        QCOMPARE(w.Text1->toPlainText(),
                 QStringLiteral("インタフェース eth9 がなくなりました.\n") + kSearching);
        QVERIFY(f.socket->bound);
        F_Browser::unload();
    }

    void aBrowserThatCannotStartIsReportedAndTheWindowStays()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        w.Command1->click();
        int views = 0;
        const QString why =
            QStringLiteral("ブラウザを起動できません (QtWebEngineProcessが見つかりません).");
        F_Browser::setWebViewFactory(
            [&views] {
                ++views;
                return std::make_unique<FakeWebView>();
            },
            [why] { return why; });
        ModalOperator<F_Config> op([](F_Config* d) { set(d, {}, true); });
        f.socket->deliver(request());
        QCOMPARE(views, 0);
        QCOMPARE(f.neighbours->entries.size(), std::size_t(1));
        QCOMPARE(w.Text1->toPlainText(), why + QLatin1Char('\n') + kSearching);
        QVERIFY(w.isVisible() && w.M_Search && f.socket->bound);
        F_Browser::setWebViewFactory([] { return std::make_unique<FakeWebView>(); });
    }

    void anInterfaceGoneWhileTheDialogIsOpenSendsNothing()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        ModalOperator<F_Config> op([&](F_Config* d) {
            f.socket->interfaceExists = false;
            set(d);
        });
        f.socket->deliver(request());
        QVERIFY(f.socket->sent.isEmpty());
        QVERIFY(f.neighbours->entries.empty());
        QCOMPARE(w.Text1->toPlainText(),
                 QStringLiteral("インタフェース eth9 がなくなりました.\n") + kSearching);
        QVERIFY(f.socket->bound);
    }

    void theBlockedWindowStaysDrawnAndStopKeepsTheFocus()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        w.Command1->click();
        QImage running;
        QImage stop;
        bool closeRefused = false;
        bool clickIgnored = false;
        f.clock->onReading = [&](int n) {
            if (n != 2) {
                return;
            }
            running = w.Img_AniBuf->grab().toImage();
            stop = w.Command2->grab().toImage();
            closeRefused = !w.close();
            QTest::mouseClick(w.Command2, Qt::LeftButton);
            clickIgnored = w.M_Search;
        };
        ModalOperator<F_Config> op([](F_Config* d) { set(d); });
        f.socket->deliver(request());
        QVERIFY(closeRefused);
        QVERIFY(clickIgnored);
        // Drawn in colour, as outside the assignment: a disabled window would be greyed.
        w.Img_AniBuf->setPixmap(w.ImgAni[w.M_AniIdx == 0 ? 11 : w.M_AniIdx - 1]->pixmap());
        const QImage frame = w.Img_AniBuf->pixmap().toImage();
        bool colour = false;
        for (int y = 0; y < running.height() && !colour; ++y) {
            for (int x = 0; x < running.width(); ++x) {
                const QColor c = running.pixelColor(x, y);
                if (std::abs(c.red() - c.green()) > 40 || std::abs(c.green() - c.blue()) > 40) {
                    colour = true;
                    break;
                }
            }
        }
        QVERIFY2(colour, "the animation frame was drawn grey while the window was blocked");
        QCOMPARE(stop, w.Command2->grab().toImage());
        QCOMPARE(w.focusWidget(), w.Command2);
        QVERIFY(!w.inputBlocked());
        w.Command2->click();
        QVERIFY(!w.M_Search);
    }
};

QTEST_MAIN(FailureTest)
#include "FailureTest.moc"
