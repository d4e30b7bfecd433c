#pragma once

#include "HelperLink.h"
#include "Twin.h"

namespace helper {

/// A front-end's sentences for why the helper did not start; every front-end fills them with the
/// same arguments.
struct StartTexts {
    text::Id missing;     ///< %1 the program's folder, where the helper was looked for
    text::Id notInGroup;  ///< %1 the helper's group, %2 its path
    text::Id noPrivilege; ///< %1 the helper's path
    text::Id portHeld;    ///< %1 the holder of port 67 (portHolderText)
    text::Id cannotStart; ///< %1 the cause; the English twin adds the detail for stderr
    text::Id didNotStart; ///< %1 the cause, as above
};

/// Why the helper did not start, in the front-end's sentences. A helper that this user may not
/// run is told apart from the file itself (HelperAccess): a group to join, or an owner or mode
/// to fix.
text::Twin startFailureText(const StartResult& result, const StartTexts& texts);

} // namespace helper
