// The browser window on the real web engine, against pages served by the test itself on
// 127.0.0.1.

#include "F_Browser.h"
#include "FatalError.h"
#include "Translations.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kLoadTimeoutMs = 60000;
constexpr int kAnswerDelayMs = 400;
const QString kConnecting = QStringLiteral("接続中...");

// Two pages that link to each other; anything else is not found.
class PageServer : public QObject {
public:
    PageServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &PageServer::accept);
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            // Each answer comes late enough for the busy indicator to show.
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                QTimer::singleShot(kAnswerDelayMs, socket, [socket] { answer(socket); });
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }
    static void answer(QTcpSocket* socket)
    {
        if (!socket->canReadLine()) {
            return;
        }
        const QList<QByteArray> request = socket->readLine().split(' ');
        const QByteArray path = request.size() > 1 ? request.at(1) : QByteArray();
        QByteArray status = "200 OK";
        QByteArray body;
        if (path == "/") {
            body = "<html><head><title>Page One</title></head>"
                   "<body><a id=next href=\"/two\">two</a></body></html>";
        } else if (path == "/two") {
            body = "<html><head><title>Page Two</title></head>"
                   "<body><a href=\"/\">one</a></body></html>";
        } else {
            status = "404 Not Found";
            body = "<html><head><title>Not found</title></head></html>";
        }
        socket->write("HTTP/1.0 " + status +
                      "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};

} // namespace

class BrowserEngineTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Runs before the engine first starts: without its helper process the engine would end
    // the program; instead the window does not open and the reason is given.
    void missingHelperIsReported()
    {
        qputenv("QTWEBENGINEPROCESS_PATH", "/nonexistent/QtWebEngineProcess");
        const QString failure = F_Browser::startFailure();
        QVERIFY_THROWS_EXCEPTION(FatalError, F_Browser::get());
        qunsetenv("QTWEBENGINEPROCESS_PATH");
        QCOMPARE(failure,
                 QStringLiteral("ブラウザを起動できません (QtWebEngineProcessが見つかりません)."));
        QCOMPARE(F_Browser::startFailure(), QString());
    }

    void browsesBackAndForth()
    {
        PageServer server;
        const QString one = server.url("/");
        const QString two = server.url("/two");

        F_Browser& window = F_Browser::get();
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("Combo1"));
        auto* back = window.findChild<QPushButton*>(QStringLiteral("Command2"));
        auto* forward = window.findChild<QPushButton*>(QStringLiteral("Command3"));
        QSignalSpy titles(&window, &QWidget::windowTitleChanged);

        // Requests the view cannot carry out do nothing.
        QTest::mouseClick(back, Qt::LeftButton);
        QTest::mouseClick(forward, Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command4")),
                          Qt::LeftButton);
        window.addURL(QString());
        QTest::qWait(300);
        QCOMPARE(combo->count(), 0);

        titles.clear();
        window.addURL(one);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("Page One"), kLoadTimeoutMs);
        QVERIFY(!titles.isEmpty());
        QCOMPARE(titles.first().first().toString(), kConnecting);
        QTRY_VERIFY(!back->isEnabled());

        window.addURL(two);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("Page Two"), kLoadTimeoutMs);
        QTRY_VERIFY(back->isEnabled());
        QVERIFY(!forward->isEnabled());
        QCOMPARE(combo->currentIndex(), 0);

        QTest::mouseClick(back, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("Page One"), kLoadTimeoutMs);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), one);
        QTRY_VERIFY(forward->isEnabled());
        QTRY_VERIFY(!back->isEnabled());

        // A malformed address loads nothing and the busy indicator still comes to rest.
        window.addURL(QStringLiteral("http://[::1"));
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("Page One"), 5000);
    }

    // The page's context menu speaks Japanese like the rest of the program.
    void contextMenuInJapanese()
    {
        PageServer server;
        F_Browser& window = F_Browser::get();
        window.addURL(server.url("/"));
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("Page One"), kLoadTimeoutMs);
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QWidget* view = window.focusWidget();
        QVERIFY(view != nullptr);
        const QPoint inside(view->width() / 2, view->height() / 2);
        QTest::mousePress(view, Qt::RightButton, {}, inside);
        QTest::mouseRelease(view, Qt::RightButton, {}, inside);
        QMenu* menu = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())),
                                 10000);
        QStringList texts;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                texts << action->text();
            }
        }
        menu->close();
        QCOMPARE(texts.mid(0, 3), (QStringList{QStringLiteral("戻る"), QStringLiteral("進む"),
                                               QStringLiteral("再読み込み")}));
    }
};

// The processes other than this one that are still in its process group.
static QList<pid_t> othersInGroup()
{
    QList<pid_t> left;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (isPid && pid != getpid() && getpgid(pid) == getpid()) {
            left << pid;
        }
    }
    return left;
}

static int runTests(int argc, char** argv)
{
    QTemporaryDir runtimeDir; // created with mode 0700, as the engine wants it
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    if (geteuid() != 0) {
        // Containers often lack the namespaces the sandbox needs; as root the web view's own
        // handling is what is tested.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // No Qt::AA_ShareOpenGLContexts here: like the program, the test leaves the engine's
    // OpenGL set-up to the module.
    QApplication app(argc, argv);
    installQtTranslations(app);
    setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
    BrowserEngineTest test;
    return QTest::qExec(&test, argc, argv);
}

// The tests run in a child process; this process leads the group that all of the engine's
// helper processes join, and checks that none outlives the test.
int main(int argc, char** argv)
{
    setpgid(0, 0);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        std::exit(runTests(argc, argv));
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 1;

    for (int i = 0; i < 50 && !othersInGroup().isEmpty(); ++i) {
        usleep(100000);
    }
    const QList<pid_t> left = othersInGroup();
    for (pid_t pid : left) {
        std::fprintf(stderr, "web engine helper %d left behind\n", static_cast<int>(pid));
        kill(pid, SIGKILL);
    }
    return left.isEmpty() ? status : 1;
}

#include "BrowserEngineTest.moc"
