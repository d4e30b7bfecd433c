// What the browser window asks the operator for the card's pages, against a fake web view:
// the login box, the certificate question, the download's progress and report, the file
// chooser, in Japanese and in English.

#include "F_Browser.h"
#include "F_Login.h"
#include "FakeWebView.h"
#include "ModalSequence.h"
#include "Texts.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const WebViewLogin kCard{QStringLiteral("10.77.0.20"), QStringLiteral("Web/SNMP Card"), false};
const QString kFingerprint = QStringLiteral("AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:"
                                            "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99");

WebViewCertificate certificate(const QString& host, const QString& sha256,
                               WebViewCertificate::Problem problem)
{
    return {host,
            problem,
            QStringLiteral("engine words"),
            sha256,
            QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC),
            QDateTime(QDate(2027, 1, 2), QTime(3, 4), Qt::UTC)};
}

} // namespace

class BrowserQuestionsTest : public QObject {
    Q_OBJECT

    QPointer<FakeWebView> m_view;
    F_Browser* m_window = nullptr;
    WebViewRequests* requests() { return m_view->requests(); }

private slots:
    void init()
    {
        text::setLanguage(text::Lang::Japanese);
        F_Browser::setWebViewFactory([this] {
            auto view = std::make_unique<FakeWebView>();
            m_view = view.get();
            return view;
        });
        m_window = &F_Browser::get();
        m_view->name = QStringLiteral("Card page");
        QVERIFY(requests() != nullptr);
    }

    void cleanup()
    {
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Focus in the user name, Tab to the password, Enter logs in; a second request for the same
    // realm says the last try failed; Esc cancels, and after a cancel nothing has failed.
    void loginBoxKeysAndRetry()
    {
        QStringList focus;
        QList<bool> failedShown;
        QList<QString> titles;
        ModalSequence<F_Login> op([&](int n, F_Login* box) {
            box->activateWindow();
            QTRY_VERIFY(QApplication::focusWidget() != nullptr);
            titles << box->windowTitle();
            failedShown << box->findChild<QLabel*>(QStringLiteral("L_Failed"))->isVisible();
            QVERIFY(box->parentWidget() == m_window);
            focus << QApplication::focusWidget()->objectName();
            if (n == 1) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
                return;
            }
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("admin"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            focus << QApplication::focusWidget()->objectName();
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("secret"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        });
        const auto first = requests()->login(kCard);
        QVERIFY(first.has_value());
        QCOMPARE(first->user, QStringLiteral("admin"));
        QCOMPARE(first->password, QStringLiteral("secret"));
        QVERIFY(!requests()->login(kCard).has_value());
        QVERIFY(requests()->login(kCard).has_value());
        QCOMPARE(focus, (QStringList{QStringLiteral("T_User"), QStringLiteral("T_Password"),
                                     QStringLiteral("T_User"), QStringLiteral("T_User"),
                                     QStringLiteral("T_Password")}));
        QCOMPARE(failedShown, (QList<bool>{false, true, false}));
        QCOMPARE(titles.value(0), QStringLiteral("ログイン"));
    }

    void loginBoxNamesProxyAndRealm_data()
    {
        QTest::addColumn<bool>("japanese");
        QTest::addColumn<bool>("proxy");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("realm");
        QTest::newRow("card") << true << false << QStringLiteral("ログイン")
                              << QStringLiteral(
                                     "10.77.0.20 がユーザー名とパスワードを求めています.")
                              << QStringLiteral("領域: Web/SNMP Card");
        QTest::newRow("proxy") << true << true << QStringLiteral("ログイン")
                               << QStringLiteral(
                                      "プロキシ 10.77.0.20 がユーザー名とパスワードを求めています.")
                               << QStringLiteral("領域: Web/SNMP Card");
        QTest::newRow("english") << false << false << QStringLiteral("Log in")
                                 << QStringLiteral("10.77.0.20 asks for a user name and password.")
                                 << QStringLiteral("Realm: Web/SNMP Card");
    }
    void loginBoxNamesProxyAndRealm()
    {
        QFETCH(bool, japanese);
        QFETCH(bool, proxy);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(QString, realm);
        text::setLanguage(japanese ? text::Lang::Japanese : text::Lang::English);
        WebViewLogin request = kCard;
        request.proxy = proxy;
        F_Login box(request, false, m_window);
        QCOMPARE(box.windowTitle(), title);
        QCOMPARE(box.findChild<QLabel*>(QStringLiteral("L_Message"))->text(), message);
        QCOMPARE(box.findChild<QLabel*>(QStringLiteral("L_Realm"))->text(), realm);
        QCOMPARE(box.findChild<QLineEdit*>(QStringLiteral("T_Password"))->echoMode(),
                 QLineEdit::Password);
    }

    // No is the default; Yes holds for that host and certificate only, for the window's life.
    void certificateQuestion()
    {
        QStringList texts;
        QList<bool> noDefault;
        QList<bool> answers{false, true, true, false};
        ModalSequence<QMessageBox> op([&](int n, QMessageBox* box) {
            texts << box->text();
            noDefault << (box->defaultButton() == box->button(QMessageBox::No));
            QCOMPARE(box->button(QMessageBox::Yes)->text(), QStringLiteral("はい(&Y)"));
            QCOMPARE(box->button(QMessageBox::No)->text(), QStringLiteral("いいえ(&N)"));
            QCOMPARE(box->windowTitle(), QStringLiteral("証明書の確認"));
            if (answers.value(n)) {
                box->button(QMessageBox::Yes)->click();
            } else {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        using P = WebViewCertificate::Problem;
        const QString other = QString(kFingerprint).replace(0, 2, QStringLiteral("BB"));
        QVERIFY(
            !requests()->acceptCertificate(certificate("10.77.0.20", kFingerprint, P::Authority)));
        QVERIFY(
            requests()->acceptCertificate(certificate("10.77.0.20", kFingerprint, P::Authority)));
        QCOMPARE(op.count(), 2);
        QVERIFY(
            requests()->acceptCertificate(certificate("10.77.0.20", kFingerprint, P::Authority)));
        QCOMPARE(op.count(), 2); // accepted before: not asked again
        QVERIFY(requests()->acceptCertificate(certificate("10.77.0.20", other, P::Name)));
        QCOMPARE(op.count(), 3); // another certificate asks again
        QVERIFY(!requests()->acceptCertificate(certificate("10.77.0.21", kFingerprint, P::Date)));
        QCOMPARE(op.count(), 4); // and so does another host
        QCOMPARE(noDefault, (QList<bool>{true, true, true, true}));
        QCOMPARE(texts.value(0),
                 QStringLiteral("10.77.0.20 の証明書は信頼できません.\n"
                                "信頼された発行元の証明書ではありません (自己署名証明書など).\n\n"
                                "SHA-256 フィンガープリント:\n"
                                "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99\n"
                                "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99\n"
                                "有効期間: %1 から %2 まで\n\n"
                                "この証明書を受け入れて接続しますか?")
                     .arg(QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC)
                              .toLocalTime()
                              .toString(QStringLiteral("yyyy/MM/dd HH:mm")),
                          QDateTime(QDate(2027, 1, 2), QTime(3, 4), Qt::UTC)
                              .toLocalTime()
                              .toString(QStringLiteral("yyyy/MM/dd HH:mm"))));
        QVERIFY(
            texts.value(2).contains(QStringLiteral("証明書の名前がこのアドレスと一致しません.")));
        QVERIFY(texts.value(3).startsWith(QStringLiteral("10.77.0.21 の証明書")));
        QVERIFY(texts.value(3).contains(QStringLiteral("有効期限が切れているか")));
    }

    // A new window forgets what the operator accepted.
    void aNewWindowAsksAgain()
    {
        ModalSequence<QMessageBox> op(
            [](int, QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        using P = WebViewCertificate::Problem;
        QVERIFY(
            requests()->acceptCertificate(certificate("10.77.0.20", kFingerprint, P::Authority)));
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_window = &F_Browser::get();
        QVERIFY(
            requests()->acceptCertificate(certificate("10.77.0.20", kFingerprint, P::Authority)));
        QCOMPARE(op.count(), 2);
    }

    void downloadProgressAndReport()
    {
        // The chosen folder exists, as it does when the operator picks it in the dialog.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("x")));
        const QString target = dir.filePath(QStringLiteral("x/eventlog.csv"));
        QString proposed;
        QString dialogTitle;
        ModalSequence<QFileDialog> save([&](int n, QFileDialog* dialog) {
            dialogTitle = dialog->windowTitle();
            proposed = dialog->selectedFiles().value(0);
            if (n == 0) {
                QVERIFY(typeFileName(dialog, target));
                static_cast<QDialog*>(dialog)->accept();
            } else {
                static_cast<QDialog*>(dialog)->reject();
            }
        });
        QCOMPARE(requests()->downloadPath(QStringLiteral("../eventlog.csv")), target);
        QCOMPARE(dialogTitle, QStringLiteral("名前を付けて保存"));
        // Only the name is taken from the card, in the user's download folder.
        QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("eventlog.csv"));
        QVERIFY(!proposed.contains(QStringLiteral("..")));
        QCOMPARE(requests()->downloadPath(QStringLiteral("eventlog.csv")), QString());

        requests()->downloadProgress(50, 200);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("ダウンロード中... 25%"));
        requests()->downloadProgress(3000, -1);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("ダウンロード中... 2 KB"));
        QString report;
        ModalSequence<QMessageBox> box([&](int, QMessageBox* b) {
            report = b->text();
            b->accept();
        });
        QSignalSpy completions(m_view.data(), &WebView::DownloadComplete);
        requests()->downloadFinished(false, target, QStringLiteral("Network error"));
        QCOMPARE(report, QStringLiteral("ダウンロードできませんでした (Network error).\n") + target);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Card page"));
        requests()->downloadFinished(true, target, {});
        QCOMPARE(report, QStringLiteral("ダウンロードが完了しました.\n") + target);
    }

    void fileChooser()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("fw.bin"));
        QFile(file).open(QIODevice::WriteOnly);
        QList<QFileDialog::FileMode> modes;
        ModalSequence<QFileDialog> choose([&](int n, QFileDialog* dialog) {
            modes << dialog->fileMode();
            QCOMPARE(dialog->windowTitle(), QStringLiteral("アップロードするファイルの選択"));
            if (n == 0) {
                QVERIFY(typeFileName(dialog, file));
                static_cast<QDialog*>(dialog)->accept();
            } else {
                static_cast<QDialog*>(dialog)->reject();
            }
        });
        QCOMPARE(requests()->chooseFiles(false, {}), QStringList{file});
        QCOMPARE(requests()->chooseFiles(true, {}), QStringList());
        QCOMPARE(modes, (QList<QFileDialog::FileMode>{QFileDialog::ExistingFile,
                                                      QFileDialog::ExistingFiles}));
    }
};

QTEST_MAIN(BrowserQuestionsTest)
#include "BrowserQuestionsTest.moc"
