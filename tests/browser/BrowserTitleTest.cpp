// The browser window's title as the window system sees it: run under Xvfb, it reads the
// title properties of the window from the X server on a connection of its own.

#include "F_Browser.h"
#include "FakeWebView.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <memory>

namespace {

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};

// One title property as text, whatever its encoding (UTF8_STRING, STRING, COMPOUND_TEXT);
// "<absent>" when the window has none.
QString titleProperty(Display* display, Window window, const char* name)
{
    XTextProperty property{};
    const Atom atom = XInternAtom(display, name, False);
    if (XGetTextProperty(display, window, &property, atom) == 0 || property.value == nullptr) {
        return QStringLiteral("<absent>");
    }
    QString text;
    char** list = nullptr;
    int count = 0;
    if (property.nitems == 0) {
        text = QString();
    } else if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success &&
               count > 0) {
        text = QString::fromUtf8(list[0]);
        XFreeStringList(list);
    } else {
        text = QStringLiteral("<undecodable>");
    }
    XFree(property.value);
    return text;
}

// What a title bar shows of a text: format characters (the zero-width ones) take no room.
QString visible(const QString& text)
{
    QString shown;
    std::copy_if(text.cbegin(), text.cend(), std::back_inserter(shown),
                 [](QChar c) { return c.category() != QChar::Other_Format; });
    return shown;
}

} // namespace

class BrowserTitleTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Display, DisplayCloser> m_display;
    QPointer<FakeWebView> m_view;

    QStringList seenTitles()
    {
        const auto window = static_cast<Window>(F_Browser::get().winId());
        return {titleProperty(m_display.get(), window, "_NET_WM_NAME"),
                titleProperty(m_display.get(), window, "WM_NAME")};
    }
    QStringList seenVisibleTitles()
    {
        QStringList titles = seenTitles();
        for (QString& t : titles) {
            t = visible(t);
        }
        return titles;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_display.reset(XOpenDisplay(nullptr));
        QVERIFY(m_display != nullptr);
        F_Browser::setWebViewFactory([this] {
            auto fake = std::make_unique<FakeWebView>();
            m_view = fake.get();
            return std::unique_ptr<WebView>(std::move(fake));
        });
    }

    void cleanup() { F_Browser::unload(); }

    // Qt would show the program's name for an empty title; the title bar stays empty.
    void emptyTitleShowsNothing()
    {
        F_Browser& window = F_Browser::get();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList blank{QString(), QString()};
        QTRY_COMPARE(seenVisibleTitles(), blank);
        QCOMPARE(window.windowTitle(), QString());

        // The busy indication, then a page without a name.
        m_view->busy = true;
        window.addURL(QStringLiteral("http://127.0.0.1/"));
        const QString connecting = QStringLiteral("接続中...");
        QTRY_COMPARE(seenTitles(), (QStringList{connecting, connecting}));
        m_view->busy = false;
        QTRY_COMPARE(seenVisibleTitles(), blank);
        QCOMPARE(window.windowTitle(), QString());

        // A named page, then an unnamed one again.
        m_view->name = QStringLiteral("Web/SNMP Card");
        m_view->downloadComplete();
        QTRY_COMPARE(seenTitles(), (QStringList{m_view->name, m_view->name}));
        m_view->name.clear();
        m_view->documentComplete();
        QTRY_COMPARE(seenVisibleTitles(), blank);
        QCOMPARE(window.windowTitle(), QString());
    }

    // A window opened again after being closed starts as empty as the first.
    void reopenedWindowShowsNothing()
    {
        F_Browser::get().addURL(QStringLiteral("http://127.0.0.1/"));
        F_Browser::unload();
        F_Browser& window = F_Browser::get();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(seenVisibleTitles(), (QStringList{QString(), QString()}));
    }
};

QTEST_MAIN(BrowserTitleTest)
#include "BrowserTitleTest.moc"
