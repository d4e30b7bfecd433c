#include "MainWindowFixture.h"

#include "BootMessage.h"
#include "FatalError.h"
#include "ProgramEnd.h"
#include "SearchRules.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// The picture a label shows, comparable across copies of the same pixmap.
qint64 shown(const QLabel* label)
{
    return label->pixmap().cacheKey();
}

// Answers the next modal message box with its default button, keeping its title and text.
struct BoxAnswer {
    QString title;
    QString text;
    void arm()
    {
        QTimer::singleShot(0, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
    }
};

} // namespace

class F_MainTest : public QObject {
    Q_OBJECT
private slots:
    void loadPreparesStateAndStaysIdle()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        QVERIFY((w.area.G_LocalIp == behaviour::Octets{192, 168, 0, 5}));
        QCOMPARE(f.socket->localPort(), 67);
        QCOMPARE(f.socket->remotePort(), 68);
        QCOMPARE(f.socket->remoteHost(), std::string("0.0.0.0"));
        QCOMPARE(f.socket->binds, 0);
        QVERIFY(w.Command1->isEnabled());
        QVERIFY(!w.Command2->isEnabled());
        QVERIFY(w.Command3->isEnabled());
        QCOMPARE(w.defaultButton(), w.Command3);
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.Text1->toPlainText().isEmpty());
        QVERIFY(!w.M_Search);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.Command1);
        QCOMPARE(shown(w.Img_AniBuf), shown(w.ImgAni[0]));
        for (const QLabel* frame : w.ImgAni) {
            QVERIFY(!frame->isVisible());
        }
    }

    void definitionMatchesTheWindow()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("Torvane"));
        QCOMPARE(w.size(), QSize(329, 145));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.Command1->text(), QStringLiteral("開　　始"));
        QCOMPARE(w.Command2->text(), QStringLiteral("中　　止"));
        QCOMPARE(w.Command3->text(), QStringLiteral("終　　了"));
        QCOMPARE(w.Command1->toolTip(), QStringLiteral("Web/SNMPカードの検索を開始します"));
        QCOMPARE(w.Command2->toolTip(), QStringLiteral("Web/SNMPカードの検索を終了します"));
        QCOMPARE(w.Command3->toolTip(), QStringLiteral("アプリケーションを終了します"));
        QCOMPARE(w.Text1->geometry(), QRect(24, 64, 281, 33));
        QCOMPARE(w.Command1->geometry(), QRect(24, 112, 89, 25));
        QCOMPARE(w.Img_Card->geometry(), QRect(117, 16, 32, 32));
        QCOMPARE(w.Img_AniBuf->geometry(), QRect(152, 16, 64, 32));
        QVERIFY(w.Text1->isReadOnly());
        QCOMPARE(w.Command1->nextInFocusChain(), w.Command2);
    }

    void startStopCycle()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (int round = 1; round <= 2; ++round) {
            QTest::keyClick(w.Command1, Qt::Key_Return); // a focused button takes Enter
            QVERIFY(!w.Command1->isEnabled());
            QVERIFY(w.Command2->isEnabled());
            QVERIFY(!w.Command3->isEnabled());
            QCOMPARE(w.defaultButton(), w.Command2);
            QCOMPARE(QApplication::focusWidget(), w.Command2);
            QCOMPARE(w.Timer1->interval(), 200);
            QVERIFY(w.Timer1->isActive());
            QVERIFY(f.socket->bound);
            QCOMPARE(f.socket->binds, round);
            QCOMPARE(w.Text1->toPlainText(), QStringLiteral("Web/SNMPカード検索中..."));
            QVERIFY(w.M_Search);

            QTest::keyClick(&w, Qt::Key_Escape); // Exit is disabled while searching
            QVERIFY(w.isVisible());

            w.Command2->click();
            QVERIFY(w.Command1->isEnabled());
            QVERIFY(!w.Command2->isEnabled());
            QVERIFY(w.Command3->isEnabled());
            QCOMPARE(w.defaultButton(), w.Command3);
            QCOMPARE(QApplication::focusWidget(), w.Command3);
            QVERIFY(!w.Timer1->isActive());
            QVERIFY(!f.socket->bound);
            QVERIFY(w.Text1->toPlainText().isEmpty());
            QVERIFY(!w.M_Search);
            w.Command1->setFocus();
        }
    }

    void escapeExitsWhenIdle()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
        QVERIFY(f.socket->calls.empty()); // idle: the socket is not touched
    }

    void enterOnTheStatusBoxGoesToTheDefaultButton()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Command1->click();
        w.Text1->setFocus();
        QTest::keyClick(w.Text1, Qt::Key_Return); // Stop is the default now
        QVERIFY(!w.M_Search);
    }

    void closeBoxDuringSearchClosesTheSocket()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        w.Command1->click();
        const int before = f.socket->endSearches;
        QVERIFY(w.close());
        QCOMPARE(f.socket->endSearches, before + 1);
        QVERIFY(!f.socket->bound);
    }

    void animationRunsTwelveFramesAndRestsOnFrameZero()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        // Only the resting frame is decoded at start-up; the animation reads the others.
        QVERIFY(!w.ImgAni[0]->pixmap().isNull());
        QVERIFY(w.ImgAni[1]->pixmap().isNull());
        w.Command1->click();
        for (int tick = 0; tick < 11; ++tick) {
            w.Timer1_Timer();
            QVERIFY(!w.Img_AniBuf->pixmap().isNull());
            QCOMPARE(shown(w.Img_AniBuf), shown(w.ImgAni[tick]));
        }
        QCOMPARE(w.M_AniIdx, qint16(11));
        w.Timer1_Timer();
        QCOMPARE(shown(w.Img_AniBuf), shown(w.ImgAni[11]));
        QCOMPARE(w.M_AniIdx, qint16(0));
        w.Timer1_Timer();
        w.Timer1_Timer();
        w.Command2->click();
        QCOMPARE(shown(w.Img_AniBuf), shown(w.ImgAni[0]));
        QCOMPARE(w.M_AniIdx, qint16(0));
        w.Command1->click();
        w.Timer1_Timer();
        QCOMPARE(shown(w.Img_AniBuf), shown(w.ImgAni[0]));
        QCOMPARE(w.M_AniIdx, qint16(1));
    }

    void socketErrorReportsAndReturnsToIdle()
    {
        int ended = 0;
        setProgramEndHook([&ended](int status) { ended = status; });
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.show();
        w.Command1->click();
        BoxAnswer answer;
        answer.arm();
        f.socket->Error(-5, "Connection reset");
        QCOMPARE(answer.title, QStringLiteral("エラー発生"));
        QCOMPARE(answer.text,
                 QStringLiteral("Winsockコントロールでエラーが発生しました. エラーコード : -5\r\n"
                                "Connection reset"));
        // The search has ended, the program has not: Start is there to try again.
        QCOMPARE(ended, 0);
        QVERIFY(w.isVisible());
        QVERIFY(!f.socket->bound);
        QCOMPARE(f.socket->endSearches, 1);
        QVERIFY(!w.M_Search);
        QVERIFY(w.Command1->isEnabled() && !w.Command2->isEnabled());
        setProgramEndHook(nullptr);
    }

    void localAddressSplit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("octets"); // empty: the split fails
        QTest::newRow("lan") << "192.168.0.5"
                             << "192.168.0.5";
        QTest::newRow("loopback") << "127.0.0.1"
                                  << "127.0.0.1";
        QTest::newRow("leading zeros") << "010.001.000.009"
                                       << "10.1.0.9";
        QTest::newRow("empty part") << "10..0.1"
                                    << "10.0.0.1";
        QTest::newRow("two dots") << "10.0.1"
                                  << "";
        QTest::newRow("no dots") << "localhost"
                                 << "";
        QTest::newRow("part above 255") << "10.0.256.1"
                                        << "";
    }
    void localAddressSplit()
    {
        QFETCH(QString, text);
        QFETCH(QString, octets);
        if (octets.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(FatalError, splitLocalIp(text.toStdString()));
        } else {
            QCOMPARE(QString::fromStdString(dottedText(splitLocalIp(text.toStdString()))), octets);
        }
    }

    void badLocalAddressEndsTheLoad()
    {
        QVERIFY_THROWS_EXCEPTION(FatalError, MainWindowFixture(QStringLiteral("10.0.1")));
    }
};

QTEST_MAIN(F_MainTest)
#include "F_MainTest.moc"
