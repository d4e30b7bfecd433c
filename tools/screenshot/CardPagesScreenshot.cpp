// Takes the documentation screenshots of the browser window's login box and certificate
// question from the X screen (run under Xvfb by scripts/screenshots), against the card
// simulator's page server on 127.0.0.1: one site behind HTTP Basic, one over HTTPS.
#include "F_Browser.h"
#include "F_Login.h"
#include "Fonts.h"
#include "HttpPage.h"
#include "HttpServer.h"
#include "Tls.h"
#include "Translations.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

constexpr cardsim::Octets kHost{127, 0, 0, 1};

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool shoot(QWidget* window, const QString& path)
{
    settle(300);
    const QRect r = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
    return shot.save(path);
}

// Waits, inside whatever loop runs, for a modal window of type T and acts on it once.
template <class T> bool whenModal(const std::function<void(T*)>& action)
{
    bool done = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
            w != nullptr && w->isVisible() && !done) {
            done = true;
            poll.stop();
            action(w);
        }
    });
    poll.start(20);
    QElapsedTimer t;
    t.start();
    while (!done && t.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    installFonts();
    installQtTranslations(app);
    setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);

    const std::string page = cardsim::cardPage({0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF},
                                               {{192, 168, 0, 20}, {255, 255, 255, 0}, {}, {}});
    cardsim::Tls tls(kHost);
    cardsim::HttpServer server;
    const auto basicPort = server.listen(kHost, 0, "", cardsim::HttpSite{page, "admin:card", {}});
    const auto tlsPort =
        server.listen(kHost, 0, "", cardsim::HttpSite{page, {}, {}}, tls.context());
    volatile sig_atomic_t stop = 0;
    std::thread serving([&] {
        server.serve(cardsim::HttpServer::Clock::now() + std::chrono::seconds(100), stop, nullptr);
    });

    bool ok = true;
    F_Browser::get().addURL(QStringLiteral("http://127.0.0.1:%1/").arg(basicPort));
    ok &= whenModal<F_Login>([&](F_Login* box) {
        box->activateWindow();
        settle(200);
        QTest::keyClicks(box->findChild<QLineEdit*>(QStringLiteral("T_User")),
                         QStringLiteral("admin"));
        ok &= shoot(box, out + QStringLiteral("/login-box.png"));
        box->reject();
    });
    settle(500);
    F_Browser::get().addURL(QStringLiteral("https://127.0.0.1:%1/").arg(tlsPort));
    ok &= whenModal<QMessageBox>([&](QMessageBox* box) {
        ok &= shoot(box, out + QStringLiteral("/certificate-question.png"));
        box->reject();
    });
    F_Browser::unload();
    settle(300);

    stop = 1;
    // The server reads the flag when it wakes; a connection wakes it.
    QTcpSocket wake;
    wake.connectToHost(QHostAddress::LocalHost, basicPort);
    wake.waitForConnected(1000);
    serving.join();
    return ok ? 0 : 1;
}
