#pragma once

#include "Protocol.h"
#include "Twin.h"

// What the helper's answers mean, in both languages, for every front-end: the one place that
// maps each refusal and errno to the words an operator reads.
namespace helper {

/// The text of each refusal of the helper.
text::Id refusalTextId(Refusal refusal);
/// The text of an errno as a cause.
text::Twin errnoText(int number);
/// The cause of a refused or failed command, short enough to sit inside a sentence; the
/// English twin carries the helper's own reason as well.
text::Twin answerText(const Answer& answer);

} // namespace helper
