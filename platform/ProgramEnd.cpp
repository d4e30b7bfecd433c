#include "ProgramEnd.h"

#include <QApplication>
#include <QMessageBox>

#include "Texts.h"

#include <cstdio>
#include <cstdlib>
#include <string>

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
    std::fprintf(stderr, "torvane: Error %d: %s\n", number, qPrintable(description));
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        const QString text = QString::fromStdString(text::format(
            text::Id::ErrorCodeLine, {std::to_string(number), description.toStdString()}));
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Torvane"), text, QMessageBox::Ok,
                        parent);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    }
    endProgram(1);
}
