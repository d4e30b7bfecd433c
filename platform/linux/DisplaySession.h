#pragma once

#include "Texts.h"

#include <optional>
#include <string>

// Which of Qt's window-system plugins Torvane starts on, decided before the application
// object exists: a session in which none can work gets Torvane's own words and an exit
// status, never Qt's abort.
namespace display {

/// What the desktop session offers.
struct Session {
    /// QT_QPA_PLATFORM is set: the operator's (or a test's) own choice, kept as it is.
    bool platformSet = false;
    /// DISPLAY: an X server, on a Wayland desktop its XWayland.
    bool x = false;
    /// WAYLAND_DISPLAY: a Wayland compositor.
    bool wayland = false;
    /// Qt's Wayland plugin (package qt6-wayland) is installed.
    bool waylandPlugin = false;
};

/// The session of this process: its environment and the Qt plugins it can load.
Session currentSession();

struct Choice {
    /// The plugins to try in order, for QT_QPA_PLATFORM ("xcb;wayland"); empty keeps it.
    std::string platforms;
    /// Why no window can open; the program then ends.
    std::optional<text::Id> failure;
};

/// X11 first where there is an X server: the desktop then frames the fixed windows itself,
/// offering no maximise, and centres them as on any X desktop. Wayland natively where there
/// is none.
Choice choose(const Session& session);

/// Applies choose() to this process. Returns 0, or the exit status after the reason was
/// said on stderr in the process's language (and in English when that is another).
int prepare();

/// Between these two calls, around the application's construction, Qt's fatal error at a
/// window system that cannot be reached ends the program with status 1 and Torvane's words
/// instead of an abort.
void guardStart();
void endGuard();

} // namespace display
