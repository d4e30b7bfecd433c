#pragma once

#include <QMessageBox>
#include <QString>

#include <string>

class QWidget;

/// The label text of a message box for a catalogue text: plain text as it is, unless it
/// holds commands (lines that begin with four blanks); then rich text in which each command
/// is a line of its own that never breaks, so that a path cannot be split.
QString messageBoxText(const std::string& text, Qt::TextFormat* format);

/// Shows a modal message box with OK whose text the operator can select and copy.
void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const std::string& text);
