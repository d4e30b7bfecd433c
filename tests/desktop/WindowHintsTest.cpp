// The title-bar buttons a real window manager offers: what it lists in
// _NET_WM_ALLOWED_ACTIONS on each window once mapped. Run by wm_hints.sh under Xvfb with
// openbox and with xfwm4 (WINDOW_MANAGER names it): the main window may be minimised but never
// maximised or resized; the settings dialog can be neither minimised nor maximised. openbox
// reads no minimise or maximise function from the Motif hints ("dont let mwm hints kill any
// buttons") and offers minimise on every dialog; there the dialog's own hints are checked, and
// that minimising it takes the main window along, so no hidden modal dialog blocks it.
#include "F_Config.h"
#include "F_Main.h"
#include "PlainFakes.h"

#include <QtTest>

#include <xcb/xcb.h>

#include <array>
#include <cstring>
#include <memory>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return r ? r->atom : XCB_ATOM_NONE;
}

QString atomName(xcb_connection_t* c, xcb_atom_t a)
{
    std::unique_ptr<xcb_get_atom_name_reply_t, decltype(&std::free)> r(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr), &std::free);
    if (!r) {
        return {};
    }
    return QString::fromLatin1(xcb_get_atom_name_name(r.get()),
                               xcb_get_atom_name_name_length(r.get()));
}

// The actions the window manager allows on the window; empty while it has set none.
QStringList allowedActions(QWidget* w)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    QStringList names;
    const auto cookie = xcb_get_property(c, 0, static_cast<xcb_window_t>(w->winId()),
                                         atom(c, "_NET_WM_ALLOWED_ACTIONS"), XCB_ATOM_ATOM, 0, 64);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
        xcb_get_property_reply(c, cookie, nullptr), &std::free);
    if (r) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
        const int n = xcb_get_property_value_length(r.get()) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < n; ++i) {
            names << atomName(c, atoms[i]).remove(QStringLiteral("_NET_WM_ACTION_"));
        }
    }
    xcb_disconnect(c);
    names.sort();
    return names;
}

// The Motif hints the window asks for: flags, functions, decorations.
std::array<quint32, 3> motifHints(QWidget* w)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_atom_t hints = atom(c, "_MOTIF_WM_HINTS");
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, static_cast<xcb_window_t>(w->winId()), hints, hints, 0, 5),
            nullptr),
        &std::free);
    std::array<quint32, 3> out{};
    if (r && xcb_get_property_value_length(r.get()) >= 12) {
        std::memcpy(out.data(), xcb_get_property_value(r.get()), 12);
    }
    xcb_disconnect(c);
    return out;
}

constexpr quint32 kMotifFunctions = 1;
constexpr quint32 kMotifMinimize = 8;
constexpr quint32 kMotifMaximize = 16;

bool openbox()
{
    return qgetenv("WINDOW_MANAGER") == "openbox";
}

QStringList waitForActions(QWidget* w)
{
    QStringList actions;
    QTest::qWaitFor(
        [&] {
            actions = allowedActions(w);
            return actions.contains(QStringLiteral("CLOSE"));
        },
        5000);
    return actions;
}

} // namespace

class WindowHintsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(qgetenv("DISPLAY").size() > 0, "needs an X display"); }

    void theMainWindowMinimisesButNeverMaximises()
    {
        F_Main::Services s{std::make_unique<FakeDatagramSocket>(),
                           std::make_unique<FakeNeighbourTable>(), std::make_unique<FakeClock>(),
                           [](OsVersion&) {}, [] { return false; }};
        F_Main w(std::move(s));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QStringList actions = waitForActions(&w);
        QVERIFY2(actions.contains(QStringLiteral("CLOSE")), qPrintable(actions.join(u' ')));
        QVERIFY2(actions.contains(QStringLiteral("MINIMIZE")), qPrintable(actions.join(u' ')));
        for (const char* never : {"MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE"}) {
            QVERIFY2(!actions.contains(QLatin1String(never)),
                     qPrintable(QStringLiteral("%1 offered: %2").arg(never, actions.join(u' '))));
        }
    }

    void theSettingsDialogNeitherMinimisesNorMaximises()
    {
        F_Main::Services s{std::make_unique<FakeDatagramSocket>(),
                           std::make_unique<FakeNeighbourTable>(), std::make_unique<FakeClock>(),
                           [](OsVersion&) {}, [] { return false; }};
        F_Main w(std::move(s));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        F_Config d(&w);
        d.setModal(true);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QStringList actions = waitForActions(&d);
        QVERIFY2(actions.contains(QStringLiteral("CLOSE")), qPrintable(actions.join(u' ')));
        for (const char* never : {"MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE"}) {
            if (openbox() && std::strcmp(never, "MINIMIZE") == 0) {
                continue;
            }
            QVERIFY2(!actions.contains(QLatin1String(never)),
                     qPrintable(QStringLiteral("%1 offered: %2").arg(never, actions.join(u' '))));
        }
        const auto [flags, functions, decorations] = motifHints(&d);
        QVERIFY(flags & kMotifFunctions);
        QCOMPARE(functions & (kMotifMinimize | kMotifMaximize), 0u);
        if (openbox()) {
            // Minimised, the dialog takes its owner along; both come back together.
            d.setWindowState(Qt::WindowMinimized);
            QTRY_VERIFY(w.isMinimized() || !w.isVisible() || w.windowState() & Qt::WindowMinimized);
        }
    }
};

QTEST_MAIN(WindowHintsTest)
#include "WindowHintsTest.moc"
