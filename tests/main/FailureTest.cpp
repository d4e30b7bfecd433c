// What the main window does when part of an assignment fails: the operator is told in a box
// that stays until OK (what happened, whether the card was sent its address, what to do),
// the status keeps its fixed texts, nothing is shown as done that was not, and the search goes
// on (or, when it cannot, the window returns to idle so that Start can be tried again). Also
// how the window looks while a card is assigned.
#include "MainWindowFixture.h"

#include "AnswerTexts.h"
#include "CardRequest.h"
#include "F_Browser.h"
#include "F_Config.h"
#include "FakeWebView.h"
#include "HelperAccess.h"
#include "MessageBoxText.h"
#include "ModalOperator.h"
#include "Resources.h"
#include "Texts.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QtTest>

namespace {

const QString kSearching = QStringLiteral("Web/SNMPカード検索中...");

std::vector<std::uint8_t> request()
{
    return testing_support::cardRequest();
}

QByteArray bytes(const std::vector<std::uint8_t>& v)
{
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

// The text of a box as the operator reads it (and copies it).
QString plainText(const QMessageBox* box)
{
    if (box->textFormat() != Qt::RichText) {
        return box->text();
    }
    QTextDocument doc;
    doc.setHtml(box->text());
    return doc.toPlainText();
}

// Answers every message box, keeping the last one's text, and what the window and socket
// looked like while it was open.
struct BoxWatch : QObject {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool selectable = false;
    int shown = 0;
    bool boundWhileOpen = false;
    QString statusWhileOpen;
    std::function<void()> whileOpen;
    BoxWatch()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // The confirmation (Yes/No) is the operator's, answered elsewhere. A box is read
            // once it is active, as the operator reads it, and not before the window system has
            // finished showing it.
            if (box != nullptr && box->isActiveWindow() &&
                box->button(QMessageBox::Yes) == nullptr) {
                title = box->windowTitle();
                text = plainText(box);
                icon = box->icon();
                selectable = box->textInteractionFlags().testFlag(Qt::TextSelectableByMouse);
                ++shown;
                if (whileOpen) {
                    whileOpen();
                }
                box->accept();
            }
        });
        timer.start(5);
    }
    QTimer timer;
};

void failWith(FakeDatagramSocket* socket, int number, const QString& why)
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
        BoxWatch box;
        box.whileOpen = [&] {
            box.boundWhileOpen = f.socket->bound;
            box.statusWhileOpen = w.Text1->toPlainText();
        };
        f.socket->deliver(request());
        QVERIFY(op.acted());
        QVERIFY(f.neighbours->entries.empty());
        QCOMPARE(f.clock->readings, 0);
        QCOMPARE(box.shown, 1);
        QCOMPARE(box.title, QStringLiteral("エラー発生"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(box.selectable);
        QCOMPARE(
            box.text,
            QStringLiteral("エラーコード : 19\r\n"
                           "IPアドレスをカードに送信できませんでした: インタフェースがありません.\n"
                           "カードにIPアドレスは送信されていません.\n"
                           "カードが要求を繰り返すと設定画面がもう一度開きます. 検索は続きます."));
        // While the box is open the card's repeated requests are dropped, as during the
        // dialog, and the status holds its fixed text only.
        QVERIFY(!box.boundWhileOpen);
        QCOMPARE(box.statusWhileOpen, QStringLiteral("IPアドレス設定中..."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QVERIFY(f.socket->bound);
        QVERIFY(w.M_Search && !w.inputBlocked());
        QCOMPARE(f.socket->remoteHost(), std::string("0.0.0.0"));
    }

    void aRefusedNeighbourEntryIsShownWithItsCause()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        f.neighbours->answer = {"他の機器が使用中のIPアドレスです", "another device uses it"};
        ModalOperator<F_Config> op([](F_Config* d) { set(d); });
        BoxWatch box;
        f.socket->deliver(request());
        QCOMPARE(f.socket->sent.size(), std::size_t(1));
        QCOMPARE(box.shown, 1);
        QCOMPARE(
            box.text,
            QStringLiteral("ARPエントリを登録できませんでした: 他の機器が使用中のIPアドレスです.\n"
                           "カードにはIPアドレス 192.168.0.20 を送信しました.\n"
                           "このPCからカードに接続できないことがあります. 検索は続きます."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QVERIFY(f.socket->bound);
    }

    void aCardOnAnInterfaceWithoutAddressGetsNoProposalAndNoServer()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        f.socket->interfaceAddress.clear();
        f.socket->interfaceName = "enp3s0";
        w.Command1->click();
        QStringList proposed;
        ModalOperator<F_Config> op([&](F_Config* d) {
            for (QLineEdit* box : d->T_IpAddr) {
                proposed << box->text();
            }
            set(d, {QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("2"),
                    QStringLiteral("3")});
        });
        BoxWatch box;
        f.socket->deliver(request());
        QCOMPARE(proposed, QStringList({"", "", "", ""}));
        QCOMPARE(f.socket->sent.size(), std::size_t(1)); // the card still gets its address
        QCOMPARE(bytes(f.socket->sent.front().data).mid(20, 4), QByteArray(4, '\0'));
        QVERIFY(f.neighbours->entries.empty());
        QVERIFY(box.text.startsWith(
            QStringLiteral("IPアドレス 10.1.2.3 は, カードがつながっているインタフェース enp3s0 "
                           "のネットワーク外です.")));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
    }

    void theProposalAndServerComeFromTheArrivalInterface()
    {
        // The default-route interface says 192.168.0.5; the card came in on another network.
        MainWindowFixture f(QStringLiteral("192.168.0.5"));
        F_Main& w = *f.window;
        f.socket->interfaceAddress = "10.77.0.1";
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
        QCOMPARE(bytes(f.socket->sent.front().data).mid(16, 8),
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
        BoxWatch box;
        f.socket->deliver(request());
        QCOMPARE(f.socket->sent.size(), std::size_t(1));
        QVERIFY(f.neighbours->entries.empty());
        QVERIFY(navigated.isEmpty());
        QCOMPARE(
            box.text,
            QStringLiteral("IPアドレス 172.16.0.9 は, カードがつながっているインタフェース eth9 "
                           "のネットワーク外です.\n"
                           "カードにはIPアドレス 172.16.0.9 を送信しました.\n"
                           "このPCからはカードに接続できません. カードのページは, "
                           "そのネットワークにつながったPCから開いてください."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
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
        BoxWatch box;
        f.socket->deliver(request());
        QVERIFY(navigated.isEmpty());
        QCOMPARE(box.text, QStringLiteral("インタフェース eth9 がなくなりました.\n"
                                          "カードにはIPアドレス 192.168.0.20 を送信しました.\n"
                                          "ケーブルとネットワークの設定を確かめてください. "
                                          "検索は続きます."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
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
        BoxWatch box;
        f.socket->deliver(request());
        QCOMPARE(views, 0);
        QCOMPARE(f.neighbours->entries.size(), std::size_t(1));
        QCOMPARE(box.text,
                 why + QStringLiteral("\nカードにはIPアドレス 192.168.0.20 を送信しました.\n"
                                      "カードのページは, 他のブラウザで "
                                      "http://192.168.0.20/ を開いてください."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
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
        BoxWatch box;
        f.socket->deliver(request());
        QVERIFY(f.socket->sent.empty());
        QVERIFY(f.neighbours->entries.empty());
        QCOMPARE(box.text, QStringLiteral("インタフェース eth9 がなくなりました.\n"
                                          "カードにIPアドレスは送信されていません.\n"
                                          "ケーブルとネットワークの設定を確かめてください. "
                                          "検索は続きます."));
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QVERIFY(f.socket->bound);
    }

    void aFailureWithoutAnErrorCodeShowsNone()
    {
        // A missing helper or one that ended has no error code: none is made up.
        MainWindowFixture f;
        F_Main& w = *f.window;
        failWith(f.socket, 0, QStringLiteral("補助プログラム torvane-helper が見つかりません."));
        BoxWatch box;
        w.Command1->click();
        QCOMPARE(box.text, QStringLiteral("補助プログラム torvane-helper が見つかりません."));
        f.socket->failBind = nullptr;
        w.Command1->click();
        f.socket->Error(0, "補助プログラム torvane-helper が終了しました.");
        QCOMPARE(box.shown, 2);
        QCOMPARE(box.text, QStringLiteral("Winsockコントロールでエラーが発生しました.\r\n"
                                          "補助プログラム torvane-helper が終了しました."));
        QVERIFY(idle(w));
    }

    void theRootNoticeIsABoxShownOnce()
    {
        MainWindowFixture f;
        f.asRoot = true;
        F_Main& w = *f.window;
        w.Command1->click();
        F_Browser::setWebViewFactory([] { return std::make_unique<FakeWebView>(); });
        BoxWatch box;
        for (int card = 0; card < 2; ++card) {
            ModalOperator<F_Config> op([](F_Config* d) { set(d, {}, true); });
            f.socket->deliver(request());
            QVERIFY(op.acted());
            QCOMPARE(w.Text1->toPlainText(), kSearching);
        }
        QCOMPARE(box.shown, 1);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("注意"));
        QVERIFY(box.text.startsWith(QStringLiteral("rootで実行中のため")));
        F_Browser::unload();
    }

    void englishBoxesSayTheSame()
    {
        text::setLanguage(text::Lang::English);
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        f.neighbours->answer = {"他の機器が使用中のIPアドレスです",
                                "another device uses the address"};
        ModalOperator<F_Config> op([](F_Config* d) { set(d); });
        BoxWatch box;
        f.socket->deliver(request());
        text::setLanguage(text::Lang::Japanese);
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QStringLiteral("The ARP entry could not be added: another device uses "
                                          "the address.\nThe card has been sent the IP address "
                                          "192.168.0.20.\nThis PC may not reach the card. The "
                                          "search goes on."));
        QCOMPARE(w.Text1->toPlainText(), QStringLiteral("Searching for Web/SNMP cards..."));
    }

    void aCommandInABoxNeverBreaksAndCopiesAsItIs()
    {
        const std::string path =
            "/home/operator/src/torvane/build-relwithdebinfo/app/torvane-helper";
        const text::Twin message = text::twin(text::Id::HelperNoPrivilege, {path});
        Qt::TextFormat format = Qt::AutoText;
        const QString html = messageBoxText(message.japanese, &format);
        QCOMPARE(format, Qt::RichText);
        QTextDocument doc;
        doc.setHtml(html);
        doc.setTextWidth(200);             // far narrower than the command
        QVERIFY(doc.size().width() > 200); // laid out, and the command did not wrap
        const QString command =
            QStringLiteral("sudo setcap cap_net_bind_service,cap_net_admin,cap_net_raw+ep ") +
            QString::fromStdString(path);
        bool found = false;
        for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
            if (b.text().contains(QStringLiteral("setcap"))) {
                found = true;
                QCOMPARE(b.text(), command);
                QCOMPARE(b.layout()->lineCount(), 1);
            }
        }
        QVERIFY(found);
        QVERIFY(doc.toPlainText().contains(QLatin1Char('\n') + command));
        // Texts without a command stay plain, as the catalogue has them.
        QCOMPARE(messageBoxText("a.\r\nb.", &format), QStringLiteral("a.\r\nb."));
        QCOMPARE(format, Qt::PlainText);
    }

    void everyHelperAnswerHasItsOwnJapaneseCause()
    {
        // Every refusal the helper knows has a text of its own, and the Japanese never carries
        // the helper's English reason; the English twin does, for stderr.
        for (int code = 1; code <= static_cast<int>(helper::Refusal::KernelQuery); ++code) {
            const auto refusal = static_cast<helper::Refusal>(code);
            QVERIFY2(helper::refusalTextId(refusal) != text::Id::CauseRefused,
                     qPrintable(QString::number(code)));
            const text::Twin cause = helper::answerText({0, refusal, "english reason"});
            QVERIFY(!QString::fromStdString(cause.japanese).contains(QStringLiteral("english")));
            QVERIFY(
                QString::fromStdString(cause.english).endsWith(QStringLiteral("(english reason)")));
        }
        for (const int code : {EACCES, ENODEV, EPIPE, ETIMEDOUT, EIO}) {
            const text::Twin cause =
                helper::answerText({code, helper::Refusal::None, "english reason"});
            QVERIFY(!QString::fromStdString(cause.japanese).contains(QStringLiteral("english")));
        }
        QCOMPARE(
            QString::fromStdString(helper::answerText({EIO, helper::Refusal::None, {}}).japanese),
            QStringLiteral("エラーコード %1").arg(EIO));
    }

    void accessToTheHelperIsToldApart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("gid");
        QTest::addColumn<bool>("member");
        QTest::addColumn<bool>("notInGroup");
        QTest::newRow("0750 group, not a member") << 0750 << 4242 << false << true;
        QTest::newRow("0750 group, a member") << 0750 << 4242 << true << false;
        QTest::newRow("0750 root:root") << 0750 << 0 << false << false;
        QTest::newRow("0740 group, not a member") << 0740 << 4242 << false << false;
        QTest::newRow("0700 group") << 0700 << 4242 << false << false;
    }

    void accessToTheHelperIsToldApart()
    {
        QFETCH(int, mode);
        QFETCH(int, gid);
        QFETCH(bool, member);
        QFETCH(bool, notInGroup);
        struct stat st {};
        st.st_mode = S_IFREG | static_cast<mode_t>(mode);
        st.st_gid = static_cast<gid_t>(gid);
        std::vector<gid_t> groups{100, 1000};
        if (member) {
            groups.push_back(static_cast<gid_t>(gid));
        }
        const HelperAccess a = helperAccessOf(st, groups);
        QCOMPARE(a.problem == HelperAccess::Problem::NotInGroup, notInGroup);
        QCOMPARE(QString::fromStdString(a.mode), QString::asprintf("%04o", mode));
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
