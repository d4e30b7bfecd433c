#pragma once

// The browser window's rules that the Qt window and the Win32 window share: which button a
// web view's command-state event concerns, and how the address history finds an entry.
namespace behaviour {

/// The buttons whose enabled state the web view's CommandStateChange event sets.
enum class NavigationButton { None, Back, Forward };

/// Command 1 is forward and 2 is back (the browser control's values); any other value, such
/// as -1 for the whole tool bar, concerns neither button.
constexpr NavigationButton commandStateButton(long Command)
{
    switch (Command) {
    case 1:
        return NavigationButton::Forward;
    case 2:
        return NavigationButton::Back;
    default:
        return NavigationButton::None;
    }
}

/// The most addresses the history holds: its index is a signed 16-bit number. A full history
/// gives up its oldest entry for a new address rather than refusing it.
inline constexpr int kMaxHistory = 32767;

/// The index of the first of count entries equal to url, or -1; entryAt(i) is entry i's text.
/// Equal is the whole text compared exactly: addresses that differ in letter case or in a
/// trailing "/" are different entries.
template <typename Text, typename EntryAt>
int findEntry(int count, const Text& url, EntryAt entryAt)
{
    for (int i = 0; i < count; ++i) {
        if (entryAt(i) == url) {
            return i;
        }
    }
    return -1;
}

} // namespace behaviour
