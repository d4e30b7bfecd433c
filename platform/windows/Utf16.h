#pragma once

#include <string>
#include <string_view>

// The one conversion between the programs' UTF-8 and Windows' UTF-16, for every Windows part:
// windows, network code, torvane-assign and the tests. No Windows header here, so that a file
// can include it before or after windows.h.
namespace winnet {

/// UTF-16 from Windows to UTF-8.
std::string utf8(std::wstring_view text);
/// UTF-8 to UTF-16 for Windows (paths, names, captions).
std::wstring wide(std::string_view text);

} // namespace winnet
