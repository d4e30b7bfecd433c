#pragma once

#include "AnswerTexts.h"
#include "HelperLink.h"
#include "Twin.h"

// The windows' words for what the helper reports, in both languages.

/// Why a search cannot start: the description of the message box.
text::Twin startFailureText(const helper::StartResult& result);
/// The cause of a refused or failed command, short enough to sit inside a sentence; the
/// English twin carries the helper's own reason as well.
text::Twin commandFailureText(const helper::Answer& answer);
