#pragma once

#include <QString>

#include <functional>

class QWidget;

/// Ends the program at once with the given status (tests replace this to watch for it).
void endProgram(int status);
void setProgramEndHook(std::function<void(int)> hook);

/// The report of an error that no handler caught: a message box titled "Torvane" with the
/// error's code and description (the code's label in the process's language), the same in
/// English on stderr, then the end of the program.
void reportFatal(int number, const QString& description, QWidget* parent = nullptr);
