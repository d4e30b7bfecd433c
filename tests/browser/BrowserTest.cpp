#include "F_Browser.h"
#include "FakeWebView.h"
#include "FatalError.h"
#include "Texts.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kConnecting = QStringLiteral("接続中...");

} // namespace

class BrowserTest : public QObject {
    Q_OBJECT

private:
    QPointer<FakeWebView> view;
    int viewsMade = 0;

    F_Browser& window() { return F_Browser::get(); }
    QComboBox* combo() { return window().findChild<QComboBox*>(QStringLiteral("Combo1")); }
    QPushButton* button(const char* name)
    {
        return window().findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QTimer* timer() { return window().findChild<QTimer*>(QStringLiteral("Timer1")); }
    QStringList entries()
    {
        QStringList list;
        for (int i = 0; i < combo()->count(); ++i) {
            list << combo()->itemText(i);
        }
        return list;
    }
    static QStringList navigations(const QStringList& urls)
    {
        QStringList calls;
        for (const QString& url : urls) {
            calls << QStringLiteral("Navigate ") + url;
        }
        return calls;
    }

private slots:
    void init()
    {
        viewsMade = 0;
        F_Browser::setWebViewFactory([this] {
            auto fake = std::make_unique<FakeWebView>();
            view = fake.get();
            ++viewsMade;
            return std::unique_ptr<WebView>(std::move(fake));
        });
    }

    void cleanup()
    {
        text::setLanguage(text::Lang::Japanese);
        F_Browser::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(view.isNull());
    }

    void history_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("selected");

        const QString a = QStringLiteral("http://10.77.0.20/");
        const QString b = QStringLiteral("http://10.77.0.21/");
        QTest::newRow("one") << QStringList{a} << QStringList{a} << 0;
        QTest::newRow("newest first") << QStringList{a, b} << QStringList{b, a} << 0;
        QTest::newRow("again keeps its place") << QStringList{a, b, a} << QStringList{b, a} << 1;
        QTest::newRow("empty first") << QStringList{QString()} << QStringList{} << -1;
    }

    // Every addURL navigates exactly once; the window's own selections never navigate.
    void history()
    {
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        QFETCH(int, selected);

        for (const QString& url : added) {
            timer()->stop();
            window().addURL(url);
            QVERIFY(timer()->isActive());
        }
        QCOMPARE(entries(), expected);
        QCOMPARE(combo()->currentIndex(), selected);
        QCOMPARE(view->calls, navigations(added));
        QCOMPARE(viewsMade, 1);
    }

    void pickingAnEntryNavigates()
    {
        window().addURL(QStringLiteral("http://a/"));
        window().addURL(QStringLiteral("http://b/"));
        timer()->stop();
        view->calls.clear();

        combo()->setCurrentIndex(1);
        QCOMPARE(view->calls, navigations({QStringLiteral("http://a/")}));
        QVERIFY(timer()->isActive());
        QCOMPARE(entries(),
                 (QStringList{QStringLiteral("http://b/"), QStringLiteral("http://a/")}));
    }

    void completion_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("timerRuns");

        QTest::newRow("document, in history") << false << QStringLiteral("http://a/") << 1 << true;
        QTest::newRow("document, elsewhere") << false << QStringLiteral("http://c/") << 0 << true;
        QTest::newRow("download, in history") << true << QStringLiteral("http://a/") << 1 << false;
        QTest::newRow("download, elsewhere") << true << QStringLiteral("http://c/") << 0 << false;
    }

    void completion()
    {
        QFETCH(bool, download);
        QFETCH(QString, location);
        QFETCH(int, selected);
        QFETCH(bool, timerRuns);

        window().addURL(QStringLiteral("http://a/"));
        window().addURL(QStringLiteral("http://b/"));
        view->calls.clear();
        view->url = location;
        view->name = QStringLiteral("Card");

        if (download) {
            view->downloadComplete();
        } else {
            view->documentComplete();
        }
        QCOMPARE(combo()->currentIndex(), selected);
        QCOMPARE(combo()->count(), 2);
        QCOMPARE(view->calls, QStringList{});
        QCOMPARE(timer()->isActive(), timerRuns);
        QCOMPARE(window().windowTitle(), QStringLiteral("Card"));

        // After the window's own selection, the operator's pick navigates again.
        combo()->setCurrentIndex(selected == 0 ? 1 : 0);
        QCOMPARE(view->calls.size(), 1);
    }

    void commandState_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<bool>("backEnabled");
        QTest::addColumn<bool>("forwardEnabled");

        QTest::newRow("back off") << 2 << false << false << true;
        QTest::newRow("forward off") << 1 << false << true << false;
        QTest::newRow("other") << -1 << false << true << true;
        QTest::newRow("forward on again") << 1 << true << true << true;
    }

    void commandState()
    {
        QFETCH(int, command);
        QFETCH(bool, enable);
        QFETCH(bool, backEnabled);
        QFETCH(bool, forwardEnabled);

        QVERIFY(button("Command2")->isEnabled());
        QVERIFY(button("Command3")->isEnabled());
        view->commandStateChange(command, enable);
        QCOMPARE(button("Command2")->isEnabled(), backEnabled);
        QCOMPARE(button("Command3")->isEnabled(), forwardEnabled);
        QVERIFY(button("Command4")->isEnabled());
    }

    void buttonsOnlyAskTheView()
    {
        window().addURL(QStringLiteral("http://a/"));
        view->name = QStringLiteral("Card");
        view->downloadComplete();
        view->calls.clear();
        view->name = QStringLiteral("Other");

        QTest::mouseClick(button("Command2"), Qt::LeftButton);
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        QTest::mouseClick(button("Command4"), Qt::LeftButton);
        QCOMPARE(view->calls, (QStringList{QStringLiteral("GoBack"), QStringLiteral("GoForward"),
                                           QStringLiteral("Refresh")}));
        QCOMPARE(window().windowTitle(), QStringLiteral("Card"));
        QCOMPARE(entries(), QStringList{QStringLiteral("http://a/")});
        QVERIFY(!timer()->isActive());
    }

    void busyIndicator()
    {
        QSignalSpy titles(&window(), &QWidget::windowTitleChanged);
        QCOMPARE(window().windowTitle(), QString());
        view->busy = true;
        view->name = QStringLiteral("Card");
        window().addURL(QStringLiteral("http://a/"));
        QTRY_COMPARE(window().windowTitle(), kConnecting);
        QTest::qWait(250);
        QVERIFY(timer()->isActive());

        view->busy = false;
        QTRY_VERIFY(!timer()->isActive());
        QCOMPARE(window().windowTitle(), QStringLiteral("Card"));
        QCOMPARE(titles.size(), 2);
        QCOMPARE(titles.at(0).at(0).toString(), kConnecting);
    }

    void captions_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QStringList>("expected"); // Close, its three tips, the busy title
        QTest::newRow("Japanese") << false
                                  << QStringList{QStringLiteral("閉じる"), QStringLiteral("戻る"),
                                                 QStringLiteral("進む"), QStringLiteral("更新"),
                                                 kConnecting};
        QTest::newRow("English") << true
                                 << QStringList{QStringLiteral("Close"), QStringLiteral("Back"),
                                                QStringLiteral("Forward"),
                                                QStringLiteral("Refresh"),
                                                QStringLiteral("Connecting...")};
    }

    void captions()
    {
        QFETCH(bool, english);
        QFETCH(QStringList, expected);
        text::setLanguage(english ? text::Lang::English : text::Lang::Japanese);
        const QStringList shown{button("Command1")->text(), button("Command2")->toolTip(),
                                button("Command3")->toolTip(), button("Command4")->toolTip()};
        QCOMPARE(shown, expected.mid(0, 4));
        view->busy = true;
        window().addURL(QStringLiteral("http://a/"));
        QTRY_COMPARE(window().windowTitle(), expected.at(4));
    }

    void focusAndTabOrder()
    {
        QWidget& w = window();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), view->widget());
        const QStringList order{QStringLiteral("Command1"), QStringLiteral("Combo1"),
                                QStringLiteral("Command2"), QStringLiteral("Command3"),
                                QStringLiteral("Command4")};
        for (const QString& name : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
        QVERIFY(!combo()->isEditable());
    }

    void layout_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("expected");
        // 400 x 333 pixels are 6000 x 5000 twips.
        QTest::newRow("both too small") << QSize(267, 200) << QSize(400, 333);
        QTest::newRow("height only") << QSize(600, 200) << QSize(600, 333);
        QTest::newRow("width only") << QSize(100, 450) << QSize(400, 450);
        QTest::newRow("exactly the minimum") << QSize(400, 333) << QSize(400, 333);
        QTest::newRow("larger") << QSize(900, 700) << QSize(900, 700);
    }

    void layout()
    {
        QFETCH(QSize, asked);
        QFETCH(QSize, expected);

        QWidget& w = window();
        const QSize frame = w.frameGeometry().size() - w.size();
        w.resize(asked - frame);
        QCOMPARE(w.frameGeometry().size(), expected);
        QCOMPARE(view->widget()->geometry(), QRect(0, 24, w.width() - 1, w.height() - 25));
        QCOMPARE(button("Command1")->geometry(), QRect(304, 0, 81, 25));
    }

    void minimisedDoesNotFail()
    {
        QWidget& w = window();
        w.showMinimized();
        w.resize(10, 10);
        QCoreApplication::processEvents();
        QVERIFY(view->widget()->width() >= 0);
        w.showNormal();
        QVERIFY(w.frameGeometry().width() >= 400);
    }

    void closingDiscardsTheWindow()
    {
        window().addURL(QStringLiteral("http://a/"));
        window().addURL(QStringLiteral("http://b/"));
        QPointer<F_Browser> first = &window();
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        // A new window may be asked for before the closed one is deleted.
        window().addURL(QStringLiteral("http://c/"));
        QVERIFY(first.data() != &window());
        QCOMPARE(entries(), QStringList{QStringLiteral("http://c/")});
        QCOMPARE(combo()->currentIndex(), 0);
        QCOMPARE(window().frameGeometry().size(), QSize(800, 567));
        QCOMPARE(viewsMade, 2);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
    }

    void missingModuleIsReported_data()
    {
        QTest::addColumn<bool>("placeJunk");
        QTest::newRow("absent") << false;
        QTest::newRow("not a module") << true;
    }

    void missingModuleIsReported()
    {
        QFETCH(bool, placeJunk);
        QTemporaryDir dir;
        if (placeJunk) {
            QFile junk(dir.filePath(QStringLiteral("libtorvane_webengine.so")));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not an ELF file");
        }
        const WebViewModule module = loadWebViewModule({dir.path()});
        QVERIFY(module.factory == nullptr);
        QVERIFY2(module.failure.contains(dir.path()), qPrintable(module.failure));
    }

    // The engine ends the program when its helper process is missing or does not run; the
    // check finds each case first and names it.
    void helperProcessIsChecked_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("shortText"); // empty: the helper is fine

        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QString missing =
            QStringLiteral("ブラウザを起動できません (QtWebEngineProcessが見つかりません).");
        const QString notExecutable =
            QStringLiteral("ブラウザを起動できません (QtWebEngineProcessを実行できません).");
        const QString doesNotStart =
            QStringLiteral("ブラウザを起動できません (QtWebEngineProcessが起動しません).");
        QTest::newRow("missing") << QByteArray() << 0 << missing;
        QTest::newRow("not executable")
            << QByteArray("#!/bin/sh\nexit 0\n") << int(QFile::ReadOwner | QFile::WriteOwner)
            << notExecutable;
        QTest::newRow("not a program") << QByteArray("junk\n") << int(all) << doesNotStart;
        QTest::newRow("missing interpreter")
            << QByteArray("#!/nonexistent/sh\nexit 0\n") << int(all) << doesNotStart;
        QTest::newRow("fails") << QByteArray("#!/bin/sh\nexit 127\n") << int(all) << doesNotStart;
        QTest::newRow("crashes") << QByteArray("#!/bin/sh\nkill -SEGV $$\n") << int(all)
                                 << doesNotStart;
        QTest::newRow("runs") << QByteArray("#!/bin/sh\necho QtWebEngineProcess\n") << int(all)
                              << QString();
    }

    void helperProcessIsChecked()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(QString, shortText);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("QtWebEngineProcess"));
        if (!content.isEmpty()) {
            QFile helper(path);
            QVERIFY(helper.open(QIODevice::WriteOnly));
            helper.write(content);
            helper.close();
            QVERIFY(helper.setPermissions(QFile::Permissions(mode)));
        }
        qputenv("QTWEBENGINEPROCESS_PATH", QFile::encodeName(path));
        const HelperProcessCheck check = checkWebEngineProcess();
        qunsetenv("QTWEBENGINEPROCESS_PATH");
        QCOMPARE(check.shortText, shortText);
        QCOMPARE(check.failure.isEmpty(), shortText.isEmpty());
        if (!check.failure.isEmpty()) {
            QVERIFY2(check.failure.contains(path), qPrintable(check.failure));
        }
    }

    // A reason keeps the window from opening and is asked again next time; a success is kept.
    void startFailureIsReportedAndSuccessKept()
    {
        const QString reason = QStringLiteral("ブラウザを起動できません (テスト).");
        const QStringList answers{reason, reason, QString()};
        int asked = 0;
        F_Browser::setWebViewFactory(
            [this] {
                auto fake = std::make_unique<FakeWebView>();
                view = fake.get();
                ++viewsMade;
                return std::unique_ptr<WebView>(std::move(fake));
            },
            [&] { return answers.at(asked++); });

        QCOMPARE(F_Browser::startFailure(), reason);
        QVERIFY_THROWS_EXCEPTION(FatalError, F_Browser::get());
        QCOMPARE(viewsMade, 0);
        QCOMPARE(asked, 2);
        QCOMPARE(F_Browser::startFailure(), QString());
        QCOMPARE(F_Browser::startFailure(), QString());
        window().addURL(QStringLiteral("http://a/"));
        QCOMPARE(asked, 3);
        QCOMPARE(viewsMade, 1);
    }
};

QTEST_MAIN(BrowserTest)
#include "BrowserTest.moc"
