// Takes the documentation screenshots of the three windows, the settings confirmation and an
// error box from the X screen (run under Xvfb by scripts/screenshots), in the language of the
// environment: the English pictures get the suffix -en. The browser shows a card-like page
// served on 127.0.0.1.
#include "F_Browser.h"
#include "F_Config.h"
#include "F_Main.h"
#include "Fonts.h"
#include "MessageBoxText.h"
#include "QtText.h"
#include "Translations.h"
#include "Twin.h"
#include "WebViewLoader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The window with its frame, as it appears on the X screen.
bool shoot(QWidget* window, const QString& path)
{
    settle(300);
    const QRect r = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
    return shot.save(path);
}

const char kPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Web/SNMP Card 00-0A-1B-C2-3D-FF"
    "</title></head><body style=\"font-family:sans-serif;margin:24px\">"
    "<h2>Web/SNMP Card</h2><table border=1 cellpadding=6 style=\"border-collapse:collapse\">"
    "<tr><th align=left>MAC address</th><td>00-0A-1B-C2-3D-FF</td></tr>"
    "<tr><th align=left>IP address</th><td>192.168.0.20</td></tr>"
    "<tr><th align=left>Subnet mask</th><td>255.255.255.0</td></tr>"
    "<tr><th align=left>Gateway</th><td>192.168.0.1</td></tr></table>"
    "<p><a href=\"snmp.html\">SNMP settings</a></p></body></html>";

} // namespace

int main(int argc, char** argv)
{
    text::setLanguage(text::languageFromEnvironment());
    QApplication app(argc, argv);
    installFonts();
    installQtTranslations(app);
    setWebViewModuleDirs({QStringLiteral(TORVANE_WEBENGINE_DIR)});
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    const QString suffix = text::language() == text::Lang::English ? QStringLiteral("-en.png")
                                                                   : QStringLiteral(".png");
    bool ok = true;

    F_Main main;
    main.show();
    main.Text1->setPlainText(qtText(text::Id::StatusCardFound));
    ok &= shoot(&main, out + QStringLiteral("/main-window") + suffix);
    {
        // A search that cannot start: the box with its command on a line of its own.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &main, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            poll.stop();
            ok &= shoot(box, out + QStringLiteral("/error-box") + suffix);
            box->accept();
        });
        poll.start(20);
        showMessage(
            &main, QMessageBox::Critical, qtText(text::Id::ErrorTitle),
            text::format(text::Id::ErrorCodeLine,
                         {"13", text::twin(text::Id::HelperNotInGroup, {"torvane"}).local()}));
    }

    behaviour::PublicArea area;
    area.G_MacAddr = "00-0A-1B-C2-3D-FF";
    area.G_LocalIp = {192, 168, 0, 5};
    {
        F_Config dialog(&main, area);
        dialog.show();
        dialog.activateWindow();
        settle(200);
        QTest::keyClicks(dialog.T_IpAddr[3], QStringLiteral("20"));
        const char* mask[] = {"255", "255", "255", "0"};
        for (int i = 0; i < 4; ++i) {
            dialog.T_SbMask[i]->setText(QString::fromLatin1(mask[i]));
        }
        dialog.T_GateWay[0]->setFocus();
        QTest::keyClicks(dialog.T_GateWay[0], QStringLiteral("192"));
        ok &= shoot(&dialog, out + QStringLiteral("/settings-dialog") + suffix);

        const char* gateway[] = {"192", "168", "0", "1"};
        for (int i = 0; i < 4; ++i) {
            dialog.T_GateWay[i]->setText(QString::fromLatin1(gateway[i]));
        }
        // The confirmation is modal: it is shot from inside its own event loop, then answered No.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            poll.stop();
            ok &= shoot(box, out + QStringLiteral("/confirmation") + suffix);
            box->button(QMessageBox::No)->click();
        });
        poll.start(20);
        dialog.Command2->click();
    }

    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket* s = server.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
            s->readAll();
            const QByteArray body(kPage);
            s->write("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                     "Content-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
            s->disconnectFromHost();
        });
    });
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    F_Browser::get().addURL(url);
    QElapsedTimer load;
    load.start();
    while (!F_Browser::get().windowTitle().startsWith(QStringLiteral("Web/SNMP")) &&
           load.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    settle(1000);
    ok &= shoot(&F_Browser::get(), out + QStringLiteral("/browser-window") + suffix);
    F_Browser::unload();
    settle(200); // let the closed window and its web page go before the engine shuts down
    return ok ? 0 : 1;
}
