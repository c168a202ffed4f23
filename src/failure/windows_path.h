#pragma once

// The form in which the Windows twins hand a path to the system's file
// calls. Only *_win32.cpp files use it; it is declared here, in the lowest
// layer, so that every layer's twins share one rule.
//
// On Windows wchar_t is a UTF-16 code unit, so these strings are UTF-16,
// unpaired surrogates included (see platform_text.h).

#include <string>
#include <string_view>

namespace ncrewrite {

/// The path to give CreateFileW, GetFileAttributesW and the other file calls
/// for the WTF-8 path `path`, whatever its length. A short path whose full
/// form is short too stays as given, so that the system resolves it as it
/// always does. One that reaches MAX_PATH, or could once a file name is
/// added in its directory, becomes its full form with the "\\?\" prefix
/// ("\\?\UNC\" for a share), which lifts the limit: the prefix turns off the
/// system's own resolution of "." and "..", which the full form has already
/// done. Paths that already begin with "\\?\" or "\\.\" stay as they are.
std::wstring WindowsPath(std::string_view path);

/// `path` made absolute against the current directory, with "." and ".."
/// resolved and no links followed (GetFullPathNameW, with room for any
/// length). Empty when the system cannot make it.
std::wstring FullPathName(const std::wstring& path);

}  // namespace ncrewrite
