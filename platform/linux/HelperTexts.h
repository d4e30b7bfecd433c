#pragma once

#include "HelperLink.h"

#include <QString>

// The window's Japanese words for what the helper reports.

/// Why a search cannot start: the description of the message box.
QString startFailureText(const helper::StartResult& result);
/// The cause of a refused or failed command, short enough for the status text.
QString commandFailureText(const helper::Answer& answer);
/// The number the windows show for an answer: the errno, or the refusal's code negated.
int answerCode(const helper::Answer& answer);
