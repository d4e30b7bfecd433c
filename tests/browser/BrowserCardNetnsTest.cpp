// The browser window against torvane-cardsim's web side, for real: run by card_pages_netns.sh
// inside the "pc" test namespace, with the simulated card in the "card" namespace given its
// address by a boot server in the "pc" namespace. A card behind HTTP Basic authentication and
// a card that redirects to HTTPS with its own certificate are both reached.

#include "CardPages.h"
#include "QtText.h"
#include "Texts.h"
#include "Translations.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace cardpages;

namespace {

const QString kCardUrl = QStringLiteral("http://10.77.0.20/");
const QString kUser = QStringLiteral("admin");

// A simulated card in the card namespace that serves its pages once it has its address.
class Card {
public:
    explicit Card(const QStringList& options)
    {
        const QStringList args{QStringLiteral("netns"),
                               QStringLiteral("exec"),
                               qEnvironmentVariable("CARD_NS"),
                               qEnvironmentVariable("CARDSIM"),
                               QStringLiteral("--interface"),
                               QStringLiteral("tvcard0"),
                               QStringLiteral("--format"),
                               QStringLiteral("kv"),
                               QStringLiteral("--interval"),
                               QStringLiteral("0.5"),
                               QStringLiteral("--timeout"),
                               QStringLiteral("30"),
                               QStringLiteral("--serve-http"),
                               QStringLiteral("--serve-seconds"),
                               QStringLiteral("120")};
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
    /// Waits until the card serves; the value of `key` in its serving event.
    bool serving()
    {
        return QTest::qWaitFor(
            [this] { return output().contains(QStringLiteral("event=serving")); }, 40000);
    }
    QString serving(const QString& key)
    {
        const QRegularExpression re(QStringLiteral("event=serving .*\\b%1=(\\S+)").arg(key));
        return re.match(output()).captured(1);
    }
    QString mac()
    {
        const QRegularExpression re(QStringLiteral("event=assigned mac=(\\S+)"));
        return re.match(output()).captured(1);
    }

private:
    QProcess m_process;
    QString m_output;
};

bool titleBecomes(F_Browser& window, const QString& title)
{
    return QTest::qWaitFor([&] { return window.windowTitle() == title; }, kLoadTimeoutMs);
}

} // namespace

class BrowserCardNetnsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariable("CARD_NS").isEmpty(), "run me through card_pages_netns.sh");
        QVERIFY(!qEnvironmentVariable("CARD_PASSWORD").isEmpty());
    }

    void cleanup()
    {
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Wrong password, asked again, right password: the card's page.
    void basicAuthCard()
    {
        const QString password = qEnvironmentVariable("CARD_PASSWORD");
        Card card({QStringLiteral("--http-basic"), kUser + u':' + password});
        QVERIFY2(card.serving(), qPrintable(card.output()));
        QList<LoginSeen> seen;
        ModalSequence<F_Login> login([&](int n, F_Login* box) {
            seen << typeLogin(box, kUser, n == 0 ? password + u'x' : password);
        });
        F_Browser& window = F_Browser::get();
        window.addURL(kCardUrl);
        QVERIFY2(titleBecomes(window, QStringLiteral("Web/SNMP Card ") + card.mac()),
                 qPrintable(window.windowTitle()));
        QCOMPARE(login.count(), 2);
        QCOMPARE(seen[0].message,
                 QString::fromStdString(text::format(text::Id::LoginServer, {"10.77.0.20"})));
        QVERIFY(!seen[0].failedShown);
        QVERIFY(seen[1].failedShown);
        QCOMPARE(seen[0].title, qtText(text::Id::LoginTitle));
    }

    // The engine asks pages for the desktop's language as the windows speak it, and its own
    // pages are in that language.
    void engineLanguage()
    {
        const bool japanese = qEnvironmentVariable("LANG").startsWith(QStringLiteral("ja"));
        QCOMPARE(text::language(), japanese ? text::Lang::Japanese : text::Lang::English);
        Card card({});
        QVERIFY2(card.serving(), qPrintable(card.output()));
        F_Browser& window = F_Browser::get();
        window.addURL(kCardUrl);
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card ") + card.mac()));
        QCOMPARE(
            runScript(page(window), QStringLiteral("navigator.languages.join(',')")).toString(),
            japanese ? QStringLiteral("ja,en") : QStringLiteral("en-US,en"));
        // Nothing answers on 10.77.0.20:81: the engine's own page.
        window.addURL(QStringLiteral("http://10.77.0.20:81/"));
        QString shown;
        QVERIFY(QTest::qWaitFor(
            [&] { return (shown = pageText(page(window))).contains(QStringLiteral("ERR_")); },
            kLoadTimeoutMs));
        QVERIFY2(shown.startsWith(japanese ? QStringLiteral("このサイトにアクセスできません")
                                           : QStringLiteral("This site can’t be reached")),
                 qPrintable(shown));
    }

    // Port 80 redirects to HTTPS with the card's own certificate: No shows the engine's page,
    // Yes the card's; a card that made a new certificate asks again.
    void httpsCard()
    {
        QList<QuestionSeen> seen;
        const QList<bool> answers{false, true, true};
        ModalSequence<QMessageBox> questions(
            [&](int n, QMessageBox* box) { seen << answerQuestion(box, answers.value(n, false)); });
        QString firstFingerprint;
        {
            Card card({QStringLiteral("--https")});
            QVERIFY2(card.serving(), qPrintable(card.output()));
            firstFingerprint = card.serving(QStringLiteral("sha256"));
            QCOMPARE(firstFingerprint.size(), 95);
            F_Browser& window = F_Browser::get();
            window.addURL(kCardUrl);
            QTRY_COMPARE_WITH_TIMEOUT(questions.count(), 1, kLoadTimeoutMs);
            QVERIFY(seen[0].noIsDefault);
            QVERIFY2(seen[0].text.startsWith(
                         QString::fromStdString(text::format(text::Id::CertHost, {"10.77.0.20"}))),
                     qPrintable(seen[0].text));
            QVERIFY(seen[0].text.contains(firstFingerprint.left(47) + u'\n' +
                                          firstFingerprint.mid(48)));
            QTRY_VERIFY_WITH_TIMEOUT(
                pageText(page(window)).contains(QStringLiteral("ERR_CERT_AUTHORITY_INVALID")),
                kLoadTimeoutMs);

            window.addURL(kCardUrl);
            QVERIFY2(titleBecomes(window, QStringLiteral("Web/SNMP Card ") + card.mac()),
                     qPrintable(window.windowTitle()));
            QCOMPARE(questions.count(), 2);
            QCOMPARE(window.findChild<QWebEngineView*>()->url().toString(),
                     QStringLiteral("https://10.77.0.20/"));
        }
        // The card starts again with a new certificate.
        Card card({QStringLiteral("--https")});
        QVERIFY2(card.serving(), qPrintable(card.output()));
        const QString second = card.serving(QStringLiteral("sha256"));
        QVERIFY(second != firstFingerprint);
        F_Browser& window = F_Browser::get();
        window.addURL(kCardUrl);
        QTRY_COMPARE_WITH_TIMEOUT(questions.count(), 3, kLoadTimeoutMs);
        QVERIFY(seen[2].text.contains(second.left(47)));
        QVERIFY(titleBecomes(window, QStringLiteral("Web/SNMP Card ") + card.mac()));
    }
};

int main(int argc, char** argv)
{
    text::setLanguage(text::languageFromEnvironment());
    QApplication app(argc, argv);
    installQtTranslations(app);
    setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
    BrowserCardNetnsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "BrowserCardNetnsTest.moc"
