#include "ProgramEnd.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

std::function<void(int)>& hook()
{
    static std::function<void(int)> end = [](int status) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    };
    return end;
}

} // namespace

void endProgram(int status)
{
    hook()(status);
}

void setProgramEndHook(std::function<void(int)> end)
{
    hook() = std::move(end);
}

void reportFatal(int number, const QString& description, QWidget* parent)
{
    const QString text = QStringLiteral("Error %1: %2").arg(number).arg(description);
    std::fprintf(stderr, "torvane: %s\n", qPrintable(text));
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Torvane"), text, QMessageBox::Ok,
                        parent);
        box.exec();
    }
    endProgram(1);
}
