#include "MessageBoxText.h"

#include <QStringList>

namespace {
const QString kCommandIndent = QStringLiteral("    ");
}

QString messageBoxText(const std::string& text, Qt::TextFormat* format)
{
    const QString plain = QString::fromStdString(text);
    QStringList lines = plain.split(QLatin1Char('\n'));
    bool commands = false;
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        commands = commands || line.startsWith(kCommandIndent);
    }
    if (!commands) {
        *format = Qt::PlainText;
        return plain;
    }
    *format = Qt::RichText;
    QString html;
    for (const QString& line : lines) {
        if (line.startsWith(kCommandIndent)) {
            html += QStringLiteral("<p style=\"margin:0 0 0 2em; white-space:pre\">%1</p>")
                        .arg(line.trimmed().toHtmlEscaped());
        } else {
            html += QStringLiteral("<p style=\"margin:0\">%1</p>").arg(line.toHtmlEscaped());
        }
    }
    return html;
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const std::string& text)
{
    Qt::TextFormat format = Qt::PlainText;
    const QString label = messageBoxText(text, &format);
    QMessageBox box(icon, title, QString(), QMessageBox::Ok, parent);
    box.setTextFormat(format);
    box.setText(label);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}
