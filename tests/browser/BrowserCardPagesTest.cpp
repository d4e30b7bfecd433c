// The card's own pages in the browser window on the real web engine: login, certificate
// question, downloads, uploads, new windows and the engine's language. The card's web side is
// torvane-cardsim's page server, run in a thread of the test on 127.0.0.1.

#include "CardPages.h"
#include "HttpPage.h"
#include "HttpServer.h"
#include "Texts.h"
#include "Tls.h"
#include "Translations.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QWebEngineProfile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

using namespace cardpages;

namespace {

const QString kUser = QStringLiteral("admin");
const QString kPassword = QStringLiteral("Pw-7f3c9e2a");
const std::string kCardPage = "<!DOCTYPE html><html><head><title>Loopback Card</title></head>"
                              "<body><p>card</p></body></html>";

// A card's web side on 127.0.0.1, served by the simulator's page server in a thread.
class LoopbackCard {
public:
    LoopbackCard(const cardsim::Octets& address, cardsim::HttpSite site,
                 cardsim::Tls* tls = nullptr)
        : m_address(address)
    {
        if (site.page.empty()) {
            site.page = cardsim::cardPage({2, 0, 0, 0, 0, 1}, {address, {255, 0, 0, 0}, {}, {}});
        }
        m_port = m_server.listen(address, 0, "", std::move(site),
                                 tls != nullptr ? tls->context() : nullptr);
        m_thread = std::thread([this] {
            m_server.serve(cardsim::HttpServer::Clock::now() + std::chrono::minutes(5), m_stop,
                           nullptr);
        });
    }
    ~LoopbackCard()
    {
        m_stop = 1;
        // The stop flag is read when the server wakes; a connection wakes it.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        std::memcpy(&to.sin_addr, m_address.data(), 4);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ::close(fd);
        m_thread.join();
    }
    QString url(const char* scheme, const char* path = "/") const
    {
        return QStringLiteral("%1://%2.%3.%4.%5:%6%7")
            .arg(QLatin1String(scheme))
            .arg(m_address[0])
            .arg(m_address[1])
            .arg(m_address[2])
            .arg(m_address[3])
            .arg(m_port)
            .arg(QLatin1String(path));
    }

private:
    cardsim::Octets m_address;
    cardsim::HttpServer m_server;
    std::uint16_t m_port = 0;
    volatile sig_atomic_t m_stop = 0;
    std::thread m_thread;
};

constexpr cardsim::Octets kHost{127, 0, 0, 1};
constexpr cardsim::Octets kOtherHost{127, 0, 0, 2};

F_Browser& openAt(const QString& url)
{
    F_Browser& window = F_Browser::get();
    window.addURL(url);
    return window;
}

bool titleBecomes(F_Browser& window, const QString& title)
{
    return QTest::qWaitFor([&] { return window.windowTitle() == title; }, kLoadTimeoutMs);
}

// The resident memory of this process and of every process below it (the engine's), in kB.
long residentKilobytes()
{
    QHash<QString, QString> parentOf;
    QHash<QString, long> rssOf;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QString& line : QString::fromLatin1(status.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("PPid:"))) {
                parentOf[pid] = line.mid(5).trimmed();
            } else if (line.startsWith(QLatin1String("VmRSS:"))) {
                rssOf[pid] = line.mid(6).trimmed().split(QLatin1Char(' ')).value(0).toLong();
            }
        }
    }
    const QString self = QString::number(QCoreApplication::applicationPid());
    long total = 0;
    for (auto it = rssOf.cbegin(); it != rssOf.cend(); ++it) {
        for (QString p = it.key(); !p.isEmpty() && p != QLatin1String("0"); p = parentOf.value(p)) {
            if (p == self) {
                total += it.value();
                break;
            }
        }
    }
    return total;
}

} // namespace

class BrowserCardPagesTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void loginWrongThenRight()
    {
        LoopbackCard card(kHost, {{}, (kUser + u':' + kPassword).toStdString(), {}});
        QList<LoginSeen> seen;
        ModalSequence<F_Login> login([&](int n, F_Login* box) {
            seen << typeLogin(box, kUser, n == 0 ? QStringLiteral("wrong") : kPassword);
        });
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        QCOMPARE(login.count(), 2);
        QCOMPARE(seen[0].title, QStringLiteral("ログイン"));
        QCOMPARE(seen[0].message, QStringLiteral("%1 がユーザー名とパスワードを求めています.")
                                      .arg(card.url("http").mid(7).chopped(1)));
        QCOMPARE(seen[0].realm, QStringLiteral("領域: Web/SNMP Card"));
        QVERIFY(seen[0].focusStartedInUser);
        QVERIFY(seen[0].passwordMasked);
        QVERIFY(!seen[0].failedShown);
        QVERIFY(seen[1].failedShown);

        // Logged in, the window's other pages of the card ask nothing more.
        window.addURL(card.url("http", "/about"));
        QVERIFY(titleBecomes(window, QStringLiteral("About this card")));
        QCOMPARE(login.count(), 2);
    }

    // Cancel shows the card's own 401 page; a new window has forgotten the login.
    void cancelShowsTheCardsPage()
    {
        LoopbackCard card(kHost, {{}, (kUser + u':' + kPassword).toStdString(), {}});
        {
            ModalSequence<F_Login> login(
                [](int, F_Login* box) { typeLogin(box, kUser, kPassword); });
            F_Browser& window = openAt(card.url("http"));
            QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        }
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        ModalSequence<F_Login> cancel(
            [](int, F_Login* box) { QTest::keyClick(box, Qt::Key_Escape); });
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("401 Unauthorized")));
        QCOMPARE(cancel.count(), 1);
    }

    void certificateNoThenYesThenAnotherCertificate()
    {
        cardsim::Tls tls(kHost);
        LoopbackCard card(kHost, {}, &tls);
        QList<QuestionSeen> seen;
        QList<bool> answers{false, true, false, true};
        ModalSequence<QMessageBox> questions(
            [&](int n, QMessageBox* box) { seen << answerQuestion(box, answers.value(n, false)); });
        F_Browser& window = openAt(card.url("https"));
        QTRY_COMPARE_WITH_TIMEOUT(questions.count(), 1, kLoadTimeoutMs);
        const QuestionSeen no = seen[0];
        QCOMPARE(no.title, QStringLiteral("証明書の確認"));
        QVERIFY(no.noIsDefault);
        const QString fingerprint = QString::fromStdString(tls.fingerprint());
        QVERIFY2(no.text.contains(fingerprint.left(47) + u'\n' + fingerprint.mid(48)),
                 qPrintable(no.text));
        QVERIFY2(no.text.startsWith(QStringLiteral("127.0.0.1 の証明書は信頼できません.\n"
                                                   "信頼された発行元の証明書ではありません")),
                 qPrintable(no.text));
        QVERIFY(no.text.contains(QStringLiteral("有効期間: ")));
        // No: the engine's error page, in Japanese.
        QTRY_VERIFY_WITH_TIMEOUT(
            pageText(page(window)).contains(QStringLiteral("ERR_CERT_AUTHORITY_INVALID")),
            kLoadTimeoutMs);

        // Asked again, Yes: the card's page.
        window.addURL(card.url("https", "/about"));
        QVERIFY(titleBecomes(window, QStringLiteral("About this card")));
        QCOMPARE(questions.count(), 2);
        // The same certificate on the same host asks nothing more.
        window.addURL(card.url("https"));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        QCOMPARE(questions.count(), 2);

        // The same certificate from another host asks again (and is refused).
        LoopbackCard other(kOtherHost, {}, &tls);
        window.addURL(other.url("https"));
        QTRY_COMPARE_WITH_TIMEOUT(questions.count(), 3, kLoadTimeoutMs);
        QVERIFY(seen[2].text.startsWith(QStringLiteral("127.0.0.2 ")));
        // The operator reads the engine's page before going on.
        QTRY_VERIFY_WITH_TIMEOUT(
            pageText(page(window)).contains(QStringLiteral("ERR_CERT_AUTHORITY_INVALID")),
            kLoadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive(),
                                 kLoadTimeoutMs);

        // A card that made a new certificate asks again.
        cardsim::Tls changed(kHost);
        LoopbackCard restarted(kHost, {}, &changed);
        window.addURL(restarted.url("https"));
        QTRY_COMPARE_WITH_TIMEOUT(questions.count(), 4, kLoadTimeoutMs);
        QVERIFY(seen[3].text.contains(QString::fromStdString(changed.fingerprint()).left(47)));
        QVERIFY2(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")),
                 qPrintable(window.windowTitle() + u' ' + page(window)->url().toString() + u' ' +
                            page(window)->title() + u' ' + QString::number(questions.count())));
    }

    void downloadIsSavedWhereChosen()
    {
        LoopbackCard card(kHost, {});
        QTemporaryDir folder;
        const QString target = folder.filePath(QStringLiteral("saved-config.txt"));
        QString dialogTitle;
        QString proposed;
        ModalSequence<QFileDialog> save([&](int, QFileDialog* dialog) {
            dialogTitle = dialog->windowTitle();
            proposed = dialog->selectedFiles().value(0);
            QVERIFY(typeFileName(dialog, target));
            static_cast<QDialog*>(dialog)->accept();
        });
        QString report;
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        QSignalSpy titles(&window, &QWidget::windowTitleChanged);
        ModalSequence<QMessageBox> done([&](int, QMessageBox* box) {
            report = box->text();
            box->accept();
        });
        QVERIFY(clickElement(window, QStringLiteral("download")));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kLoadTimeoutMs);
        QCOMPARE(save.count(), 1);
        QCOMPARE(dialogTitle, QStringLiteral("名前を付けて保存"));
        QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("card-config.txt"));
        QCOMPARE(report, QStringLiteral("ダウンロードが完了しました.\n") + target);
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().startsWith("# Web/SNMP card configuration\n"));
        // The progress showed in the title, and the page's name came back.
        QVERIFY(std::any_of(titles.cbegin(), titles.cend(), [](const QList<QVariant>& t) {
            return t.first().toString().startsWith(QStringLiteral("ダウンロード中..."));
        }));
        QCOMPARE(window.windowTitle(), QStringLiteral("Web/SNMP Card 02-00-00-00-00-01"));
    }

    void uploadReachesTheCard()
    {
        LoopbackCard card(kHost, {});
        QTemporaryDir folder;
        const QString firmware = folder.filePath(QStringLiteral("firmware.bin"));
        QFile file(firmware);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray bytes(70000, '\0');
        for (int i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7 + 3);
        }
        file.write(bytes);
        file.close();
        QString dialogTitle;
        ModalSequence<QFileDialog> choose([&](int, QFileDialog* dialog) {
            dialogTitle = dialog->windowTitle();
            QVERIFY(typeFileName(dialog, firmware));
            static_cast<QDialog*>(dialog)->accept();
        });
        F_Browser& window = openAt(card.url("http", "/upload"));
        QVERIFY(titleBecomes(window, QStringLiteral("Firmware upload")));
        QVERIFY(clickElement(window, QStringLiteral("file")));
        QTRY_COMPARE_WITH_TIMEOUT(choose.count(), 1, kLoadTimeoutMs);
        QCOMPARE(dialogTitle, QStringLiteral("アップロードするファイルの選択"));
        QVERIFY(titleBecomes(window, QStringLiteral("Upload received")));
        QVERIFY2(pageText(page(window)).contains(QStringLiteral("firmware.bin 70000 bytes")),
                 qPrintable(pageText(page(window))));
    }

    void newWindowsOpenInTheBrowserWindow()
    {
        LoopbackCard card(kHost, {});
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        auto* back = window.findChild<QPushButton*>(QStringLiteral("Command2"));
        QTRY_VERIFY(!back->isEnabled());
        const int windows = QApplication::topLevelWidgets().size();

        QVERIFY(clickElement(window, QStringLiteral("blank")));
        QVERIFY(titleBecomes(window, QStringLiteral("About this card")));
        QTRY_VERIFY(back->isEnabled());
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("Combo1"))->count(), 1);
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        // window.open without a size of its own: the same.
        QVERIFY(clickElement(window, QStringLiteral("open")));
        QVERIFY(titleBecomes(window, QStringLiteral("About this card")));
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));

        // A pop-up of its own size: a plain window of that size, beside the browser window.
        QVERIFY(clickElement(window, QStringLiteral("popup")));
        QWidget* popup = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (w->isVisible() && w->windowTitle() == QStringLiteral("Card status")) {
                        popup = w;
                    }
                }
                return popup != nullptr;
            }(),
            kLoadTimeoutMs);
        QVERIFY(qobject_cast<F_Browser*>(popup) == nullptr);
        QTRY_COMPARE(popup->size(), QSize(420, 260));
        QVERIFY(popup->findChild<QComboBox*>() == nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("Web/SNMP Card 02-00-00-00-00-01"));
        QVERIFY(QApplication::topLevelWidgets().size() > windows);
    }

    // A new window may open only what the page could open itself at the top level: an http or
    // https address. Other schemes are refused without a box, and no page is kept for any of
    // them, however many the card's page asks for.
    void newWindowsOpenOnlyWebAddresses()
    {
        cardsim::HttpSite site;
        site.page = "<!DOCTYPE html><html><head><title>Links</title></head><body>"
                    "<a id=\"data\" target=\"_blank\" "
                    "href=\"data:text/html,<title>Data page</title>data\">data</a><br>"
                    "<a id=\"qrc\" target=\"_blank\" href=\"qrc:/torvane/images/card.xpm\">qrc</a><br>"
                    "<a id=\"file\" target=\"_blank\" href=\"file:///etc/hostname\">file</a><br>"
                    "<a id=\"qrcopen\" href=\"#\" "
                    "onclick=\"window.open('qrc:/torvane/images/card.xpm'); return false;\">open</a><br>"
                    "<a id=\"qrcpopup\" href=\"#\" onclick=\"window.open("
                    "'qrc:/torvane/images/card.xpm', 'p', 'width=300,height=200'); return false;\">"
                    "popup</a>"
                    "</body></html>";
        LoopbackCard card(kHost, site);
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("Links")));
        const QUrl start = page(window)->url();
        QWebEngineProfile* profile = page(window)->profile();
        const auto pages = [profile] { return profile->findChildren<QWebEnginePage*>().size(); };
        const qsizetype pagesBefore = pages();
        const int windows = QApplication::topLevelWidgets().size();
        // Any box (a question, or the save dialog of a download) is counted and closed.
        ModalSequence<QDialog> boxes([](int, QDialog* box) { box->reject(); });
        for (const char* id : {"data", "qrc", "file", "qrcopen"}) {
            QVERIFY(clickElement(window, QLatin1String(id)));
            QTest::qWait(1500);
            QCOMPARE(page(window)->url(), start);
            QCOMPARE(window.windowTitle(), QStringLiteral("Links"));
            QCOMPARE(QApplication::topLevelWidgets().size(), windows);
            QVERIFY2(boxes.count() == 0, id);
            QTRY_COMPARE_WITH_TIMEOUT(pages(), pagesBefore, 5000);
        }
        // A pop-up of its own size is a page of its own: it never shows what was refused.
        QVERIFY(clickElement(window, QStringLiteral("qrcpopup")));
        QTest::qWait(1500);
        QCOMPARE(boxes.count(), 0);
        for (QWidget* w : QApplication::topLevelWidgets()) {
            for (QWebEngineView* view : w->findChildren<QWebEngineView*>()) {
                const QString text = pageText(view->page());
                QVERIFY2(!text.contains(QLatin1String("XPM")), qPrintable(text.left(80)));
            }
        }

        // Blank windows: each is let go, so that memory stays flat.
        const auto openBlank = [&](int count) {
            runScript(page(window),
                      QStringLiteral("for (var i = 0; i < %1; ++i) window.open('about:blank');")
                          .arg(count));
        };
        // The page's garbage is collected before each measure (gc() is there through the
        // test's --js-flags=--expose-gc), so that only what the windows keep is counted.
        const auto collected = [&] {
            runScript(page(window), QStringLiteral("if (window.gc) { gc(); } 1"));
            return residentKilobytes();
        };
        openBlank(50);
        QTRY_COMPARE_WITH_TIMEOUT(pages(), pagesBefore, 60000);
        const long before = collected();
        for (int round = 0; round < 10; ++round) {
            openBlank(50);
            QTRY_COMPARE_WITH_TIMEOUT(pages(), pagesBefore, 60000);
        }
        // The engine's processes move by 10 to 25 MB from one measure to the next; 500 kept
        // blank windows held about 110 MB.
        const long grown = collected() - before;
        QVERIFY2(grown < 40 * 1024, qPrintable(QStringLiteral("grew by %1 kB").arg(grown)));
        QCOMPARE(page(window)->url(), start);
    }

    void enginePagesInTheOperatorsLanguage()
    {
        LoopbackCard card(kHost, {});
        F_Browser& window = openAt(card.url("http"));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card 02-00-00-00-00-01")));
        QCOMPARE(
            runScript(page(window), QStringLiteral("navigator.languages.join(',')")).toString(),
            QStringLiteral("ja,en"));
        // An address that cannot be reached: the engine's own page says so in Japanese.
        window.addURL(QStringLiteral("http://127.0.0.1:1/"));
        static_cast<void>(
            QTest::qWaitFor([&] { return pageText(page(window)).contains(QStringLiteral("ERR_")); },
                            kLoadTimeoutMs));
        const QString text = pageText(page(window));
        QVERIFY2(text.startsWith(QStringLiteral("このサイトにアクセスできません")),
                 qPrintable(text));
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
    // A home of the test's own: the save dialog starts in its Downloads folder, and nothing the
    // engine might write lands in the developer's home.
    QTemporaryDir home;
    QTemporaryDir runtimeDir;
    if (!home.isValid() || !runtimeDir.isValid() ||
        !QDir(home.path()).mkpath(QStringLiteral("Downloads"))) {
        std::fprintf(stderr, "cannot make a temporary home\n");
        return 1;
    }
    qputenv("HOME", QFile::encodeName(home.path()));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        qunsetenv(name);
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    if (geteuid() != 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The program's language as the program sets it at start.
    text::setLanguage(text::Lang::Japanese);
    QApplication app(argc, argv);
    installQtTranslations(app);
    setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
    BrowserCardPagesTest test;
    return QTest::qExec(&test, argc, argv);
}

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

#include "BrowserCardPagesTest.moc"
