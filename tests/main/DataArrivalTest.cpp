#include "MainWindowFixture.h"

#include "BootMessage.h"
#include "CardRequest.h"
#include "F_Browser.h"
#include "F_Config.h"
#include "FakeWebView.h"
#include "ModalOperator.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

namespace {

const QString kSearching = QStringLiteral("Web/SNMPカード検索中...");

QByteArray bytes(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// Fills the dialog as an operator would and confirms with Set and Yes.
void fillAndSet(F_Config* dialog, bool openBrowser)
{
    QTest::keyClicks(dialog->T_IpAddr[3], QStringLiteral("20"));
    const char* mask[] = {"255", "255", "255", "0"};
    const char* gateway[] = {"192", "168", "0", "1"};
    for (int i = 0; i < 4; ++i) {
        dialog->T_SbMask[i]->setText(QString::fromLatin1(mask[i]));
        dialog->T_GateWay[i]->setText(QString::fromLatin1(gateway[i]));
    }
    dialog->C_SetBrw->setChecked(openBrowser);
    auto* yes = new ModalOperator<QMessageBox>(
        [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    yes->setParent(dialog);
    dialog->Command2->click();
}

} // namespace

class DataArrivalTest : public QObject {
    Q_OBJECT
private slots:
    void datagramsThatAreNoCardRequestChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        using namespace testing_support;
        QByteArray random(65507, Qt::Uninitialized);
        QRandomGenerator gen(7);
        for (char& c : random) {
            c = char(gen.generate());
        }
        auto relayed = cardRequest();
        relayed[bootp::kGiaddr] = 10;
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("card request of 299 bytes") << bytes(cardRequest(299));
        // Longer than any BOOTP client sends: its reply would leave in fragments.
        QTest::newRow("card request of 577 bytes") << bytes(cardRequest(577));
        QTest::newRow("largest UDP payload, random") << random;
        QTest::newRow("foreign DHCP DISCOVER") << bytes(foreignDiscover());
        QTest::newRow("relayed card request") << bytes(relayed);
    }
    void datagramsThatAreNoCardRequestChangeNothing()
    {
        QFETCH(QByteArray, datagram);
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        const int binds = f.socket->binds;
        const std::size_t calls = f.socket->calls.size();
        auto watcher = std::make_unique<ModalOperator<QDialog>>([](QDialog* d) { d->reject(); });

        f.socket->deliver({datagram.begin(), datagram.end()});

        QCOMPARE(f.socket->reads, 1); // read even when dropped
        QVERIFY(f.socket->queue.empty());
        QVERIFY(!watcher->acted());
        watcher.reset();
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QCOMPARE(f.socket->binds, binds);
        QCOMPARE(f.socket->calls.size(), calls); // no close, no end
        QVERIFY(f.socket->bound);
        QVERIFY(f.window->area.G_MacAddr.empty());

        // A card request afterwards is still handled.
        ModalOperator<F_Config> cancel([](F_Config* d) { d->Command1->click(); });
        f.socket->deliver(testing_support::cardRequest());
        QVERIFY(cancel.acted());
    }

    void cancelResumesTheSearchWithoutSending()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        QString shownMac;
        QString statusWhileOpen;
        bool boundWhileOpen = true;
        ModalOperator<F_Config> cancel([&](F_Config* d) {
            shownMac = d->L_MacAddr->text();
            statusWhileOpen = w.Text1->toPlainText();
            boundWhileOpen = f.socket->bound;
            QTest::keyClick(d, Qt::Key_Escape);
        });

        f.socket->deliver(testing_support::cardRequest(300));

        QCOMPARE(shownMac, QStringLiteral("00-0A-1B-C2-3D-FF"));
        QCOMPARE(statusWhileOpen,
                 QStringLiteral("アドレス未設定のWeb/SNMPカードが見つかりました."));
        QVERIFY(!boundWhileOpen);
        QVERIFY(f.socket->sent.empty());
        QVERIFY(f.neighbours->entries.empty());
        QCOMPARE(f.clock->readings, 0);
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QVERIFY(f.socket->bound);
        QCOMPARE(f.socket->binds, 2);
        QCOMPARE(QString::fromStdString(f.window->area.G_MacAddr), shownMac);
        // The search itself goes on untouched.
        QVERIFY(w.M_Search);
        QVERIFY(!w.Command1->isEnabled() && w.Command2->isEnabled() && !w.Command3->isEnabled());
    }

    void setRepliesAddsTheEntryAndWaits()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        const auto request = testing_support::cardRequest(548);
        bool disabledDuringWait = false;
        QString statusDuringWait;
        int sentBeforeEntry = -1;
        f.neighbours->onAdd = [&] { sentBeforeEntry = int(f.socket->sent.size()); };
        f.clock->onReading = [&](int) {
            disabledDuringWait = w.inputBlocked() && w.isEnabled();
            statusDuringWait = w.Text1->toPlainText();
        };
        ModalOperator<F_Config> set([](F_Config* d) { fillAndSet(d, false); });

        f.socket->deliver(request);

        QVERIFY(set.acted());
        QCOMPARE(f.socket->sent.size(), std::size_t(1));
        const auto& reply = f.socket->sent.front();
        QCOMPARE(reply.host, std::string("255.255.255.255"));
        QCOMPARE(reply.port, 68);
        QCOMPARE(reply.localPort, 67);
        QVERIFY(!reply.listenerOpen);
        QCOMPARE(reply.data.size(), request.size());
        QCOMPARE(quint8(reply.data[0]), quint8(2));
        QCOMPARE(bytes(reply.data).mid(16, 4), QByteArray("\xC0\xA8\x00\x14", 4));
        QCOMPARE(bytes(reply.data).mid(20, 4), QByteArray("\xC0\xA8\x00\x05", 4));
        QCOMPARE(bytes(reply.data).mid(246, 13),
                 QByteArray("\x01\x04\xFF\xFF\xFF\x00\x03\x04\xC0\xA8\x00\x01\xFF", 13));
        QCOMPARE(sentBeforeEntry, 1);
        QCOMPARE(f.neighbours->entries.size(), std::size_t(1));
        const auto& entry = f.neighbours->entries.front();
        QCOMPARE(entry.ifindex, f.socket->interfaceIndex);
        QVERIFY((entry.ip == std::array<std::uint8_t, 4>{192, 168, 0, 20}));
        QVERIFY((entry.mac == std::array<std::uint8_t, 6>{0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF}));
        QVERIFY(disabledDuringWait);
        QCOMPARE(statusDuringWait, QStringLiteral("IPアドレス設定中..."));
        QCOMPARE(f.socket->remoteHost(), std::string("0.0.0.0"));
        QVERIFY(!w.inputBlocked());
        QCOMPARE(w.Text1->toPlainText(), kSearching);
        QVERIFY(f.socket->bound);
        QVERIFY(w.M_Search);
    }

    void waitEndsAtTheFirstReadingAfterFiveSeconds()
    {
        MainWindowFixture f;
        F_Main& w = *f.window;
        w.Command1->click();
        // Start, then readings at exactly 5 s (not over), then just over.
        f.clock->script = {100.0, 102.0, 105.0, 105.0, 105.001, 200.0};
        bool eventRanInside = false;
        f.clock->onReading = [&](int n) {
            if (n == 1) {
                QTimer::singleShot(0, &w, [&] { eventRanInside = true; });
            }
        };
        ModalOperator<F_Config> set([](F_Config* d) { fillAndSet(d, false); });

        f.socket->deliver(testing_support::cardRequest());

        QCOMPARE(f.clock->readings, 5);
        QVERIFY(eventRanInside);
    }

    void browserOpensOnlyWhenAskedAndBeforeTheWindowIsEnabled()
    {
        QStringList navigated;
        bool enabledAtNavigate = true;
        MainWindowFixture f;
        F_Main& w = *f.window;
        F_Browser::setWebViewFactory([&] {
            auto view = std::make_unique<FakeWebView>();
            view->onNavigate = [&](const QString& url) {
                navigated << url;
                enabledAtNavigate = !w.inputBlocked();
            };
            return view;
        });
        w.Command1->click();
        {
            ModalOperator<F_Config> set([](F_Config* d) { fillAndSet(d, false); });
            f.socket->deliver(testing_support::cardRequest());
        }
        QVERIFY(navigated.isEmpty());
        {
            ModalOperator<F_Config> set([](F_Config* d) { fillAndSet(d, true); });
            f.socket->deliver(testing_support::cardRequest());
        }
        QCOMPARE(navigated, QStringList{QStringLiteral("http://192.168.0.20/")});
        QVERIFY(!enabledAtNavigate);
        QVERIFY(!w.inputBlocked());
        // Closing the main window closes the browser window with it.
        QVERIFY(w.close());
        const auto browserLeft = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::any_of(windows.cbegin(), windows.cend(),
                               [](QWidget* t) { return qobject_cast<F_Browser*>(t) != nullptr; });
        };
        QTRY_VERIFY(!browserLeft());
    }

    void secondCardAfterCancelIsAskedAgain()
    {
        MainWindowFixture f;
        f.window->Command1->click();
        ModalOperator<F_Config> first([](F_Config* d) { d->Command1->click(); });
        f.socket->deliver(testing_support::cardRequest());
        ModalOperator<F_Config> second([](F_Config* d) { d->Command1->click(); });
        f.socket->deliver(testing_support::cardRequest(300, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
        QVERIFY(second.acted());
        QCOMPARE(QString::fromStdString(f.window->area.G_MacAddr),
                 QStringLiteral("FF-FF-FF-FF-FF-FF"));
    }
};

QTEST_MAIN(DataArrivalTest)
#include "DataArrivalTest.moc"
