// Torvane's windows natively on a real Wayland compositor: run by wayland.sh inside the "pc"
// test namespace, on weston (its X11 backend inside Xvfb, so that the test can press the
// compositor's own key bindings through XVFB_DISPLAY), with the simulated card in the "card"
// namespace. Qt itself sees WAYLAND_DISPLAY only. A protocol error ends this process at once,
// so every check after a maximise request also says that the program survived it.
#include "F_Browser.h"
#include "F_Config.h"
#include "F_Main.h"
#include "ModalOperator.h"

#include "WebViewLoader.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// The states the compositor configured a window with, in order, as Qt reports them.
class StatesSeen : public QObject {
public:
    explicit StatesSeen(QWindow* window) { window->installEventFilter(this); }
    QList<Qt::WindowStates> states;
    bool saw(Qt::WindowState state) const
    {
        for (const Qt::WindowStates s : states) {
            if (s & state) {
                return true;
            }
        }
        return false;
    }
    bool backToNormal() const { return !states.isEmpty() && states.last() == Qt::WindowNoState; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowStateChange && event->spontaneous()) {
            states << static_cast<QWindow*>(watched)->windowStates();
        }
        return false;
    }
};

// weston's bindings: Super+Shift+M maximises, Super+Shift+F makes full screen the window
// that has the keyboard.
void pressCompositorKeys(const QString& keys)
{
    QProcess xdotool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("XVFB_DISPLAY"));
    xdotool.setProcessEnvironment(env);
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    QVERIFY(xdotool.waitForFinished(10000));
    QCOMPARE(xdotool.exitCode(), 0);
}

// One request, then the window is back to its normal state, its size unchanged, and draws.
void requestAndSurvive(QWidget* w, Qt::WindowState state, const QString& keys)
{
    const QSize fixed = w->size();
    StatesSeen seen(w->windowHandle());
    if (keys.isEmpty()) {
        // What Qt's title bar does on a click of its maximise box.
        w->windowHandle()->setWindowStates(state);
    } else {
        // A key pressed while weston is busy may be lost: pressed again until it has acted.
        for (int i = 0; i < 3; ++i) {
            pressCompositorKeys(keys);
            if (QTest::qWaitFor([&] { return seen.saw(state); }, 3000)) {
                break;
            }
        }
    }
    QTRY_VERIFY2_WITH_TIMEOUT(seen.saw(state), qPrintable(keys), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.backToNormal(), 10000);
    QVERIFY(w->updatesEnabled());
    w->repaint();
    QTest::qWait(300);
    QCOMPARE(w->size(), fixed);
    QVERIFY(w->isVisible());
}

void survivesEveryRequest(QWidget* w)
{
    QTRY_VERIFY_WITH_TIMEOUT(w->isActiveWindow(), 10000);
    requestAndSurvive(w, Qt::WindowMaximized, {});
    requestAndSurvive(w, Qt::WindowMaximized, QStringLiteral("super+shift+m"));
    requestAndSurvive(w, Qt::WindowFullScreen, QStringLiteral("super+shift+f"));
}

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariable("CARD_NS").isEmpty(), "run me through wayland.sh");
        QProcess link;
        link.start(QStringLiteral("ip"),
                   {QStringLiteral("-n"), qEnvironmentVariable("CARD_NS"), QStringLiteral("-br"),
                    QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("tvcard0")});
        QVERIFY(link.waitForFinished(10000));
        m_cardMac = QString::fromLocal8Bit(link.readAllStandardOutput())
                        .simplified()
                        .section(QLatin1Char(' '), 2, 2)
                        .toUpper()
                        .replace(QLatin1Char(':'), QLatin1Char('-'));
        QCOMPARE(m_cardMac.size(), 17);
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
        m_window = std::make_unique<F_Main>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase()
    {
        F_Browser::unload();
        m_window->close();
        m_window.reset();
    }

    void theMainWindowStaysAsItIs() { survivesEveryRequest(m_window.get()); }

    void oneCardThroughTheDialogToItsPage()
    {
        QProcess card;
        card.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        card.start(QStringLiteral("ip"),
                   {QStringLiteral("netns"), QStringLiteral("exec"),
                    qEnvironmentVariable("CARD_NS"), qEnvironmentVariable("CARDSIM"),
                    QStringLiteral("--interface"), QStringLiteral("tvcard0"),
                    QStringLiteral("--format"), QStringLiteral("kv"), QStringLiteral("--interval"),
                    QStringLiteral("1"), QStringLiteral("--serve-http"),
                    QStringLiteral("--serve-seconds"), QStringLiteral("120"),
                    QStringLiteral("--timeout"), QStringLiteral("60")});
        QVERIFY(card.waitForStarted());

        ModalOperator<QMessageBox> yes([](QMessageBox* box) {
            if (QAbstractButton* b = box->button(QMessageBox::Yes)) {
                b->click();
            }
        });
        bool dialogChecked = false;
        ModalOperator<F_Config> op([&](F_Config* d) {
            // A transient child of the main window, so that a compositor can place it there.
            QCOMPARE(d->windowHandle()->transientParent(), m_window->windowHandle());
            survivesEveryRequest(d);
            const char* octets[3][4] = {
                {"10", "77", "0", "28"}, {"255", "255", "255", "0"}, {"10", "77", "0", "254"}};
            for (int i = 0; i < 4; ++i) {
                d->T_IpAddr[i]->setText(QString::fromLatin1(octets[0][i]));
                d->T_SbMask[i]->setText(QString::fromLatin1(octets[1][i]));
                d->T_GateWay[i]->setText(QString::fromLatin1(octets[2][i]));
            }
            dialogChecked = true;
            d->Command2->click();
        });
        // The root notice (this test runs as root): a box over the browser window.
        QPointer<QWidget> noticeOwner;
        QTimer notice;
        connect(&notice, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->button(QMessageBox::Yes) == nullptr) {
                noticeOwner = box->parentWidget();
                box->accept();
            }
        });
        notice.start(20);

        // Enter on the focused Start.
        m_window->Command1->setFocus();
        QTest::keyClick(m_window->Command1, Qt::Key_Return);
        QVERIFY(m_window->Winsock1->isBound());
        QTRY_VERIFY_WITH_TIMEOUT(op.acted(), 20000);
        QVERIFY(dialogChecked);
        QTRY_VERIFY_WITH_TIMEOUT(!noticeOwner.isNull(), 30000);
        F_Browser* browser = F_Browser::current();
        QVERIFY(browser != nullptr);
        QCOMPARE(noticeOwner.data(), browser);
        QTRY_COMPARE_WITH_TIMEOUT(browser->windowTitle(),
                                  QStringLiteral("Web/SNMP Card ") + m_cardMac, 30000);
        QVERIFY2(QString::fromLocal8Bit(card.readAllStandardOutput())
                     .contains(QStringLiteral("address=10.77.0.28")),
                 "the card was not assigned");
        // The window system knows the browser's smallest outer size, 400 x 333.
        QCOMPARE(browser->windowHandle()->minimumSize() +
                     (browser->frameGeometry().size() - browser->size()),
                 QSize(400, 333));
        card.terminate();
        card.waitForFinished(5000);
    }

private:
    std::unique_ptr<F_Main> m_window;
    QString m_cardMac;
};

QTEST_MAIN(WaylandTest)
#include "WaylandTest.moc"
