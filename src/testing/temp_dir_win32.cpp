#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "failure/platform_text.h"
#include "failure/windows_path.h"
#include "testing/temp_dir.h"

namespace ncrewrite::testing {

namespace {

// std::filesystem of mingw-w64 lists directories through a buffer of
// MAX_PATH characters, so it cannot list or remove the deep directories
// that the tests of long paths make: these go through the extended form.

/// Calls `visit` with the name and the attributes of every entry of the
/// directory `path` (WTF-8), "." and ".." left out. Gives false when the
/// directory cannot be listed.
template <typename Visit>
bool ForEachEntry(const std::string& path, Visit visit) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(WindowsPath(path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    visit(Wtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()),
                                            name.size())),
          found.dwFileAttributes);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return true;
}

void RemoveTreeAt(const std::string& path, DWORD attributes) {
  const std::wstring windows_path = WindowsPath(path);
  // A read-only file or directory cannot be deleted until it is made writable.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetFileAttributesW(windows_path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::DeleteFileW(windows_path.c_str());
    return;
  }
  // A link to a directory is removed as it is, not entered.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    ForEachEntry(path, [&](const std::string& name, DWORD entry_attributes) {
      RemoveTreeAt(path + "\\" + name, entry_attributes);
    });
  }
  ::RemoveDirectoryW(windows_path.c_str());
}

}  // namespace

std::vector<std::string> DirectoryEntries(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  const std::string path = TextOf(directory);
  if (!ForEachEntry(path, [&](const std::string& name, DWORD) { names.push_back(name); })) {
    throw std::filesystem::filesystem_error(
        "cannot list the directory", directory,
        std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::filesystem::path& path) noexcept {
  try {
    const std::string text = TextOf(path);
    const DWORD attributes = ::GetFileAttributesW(WindowsPath(text).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) RemoveTreeAt(text, attributes);
  } catch (...) {
    // Out of memory while cleaning up: what remains stays.
  }
}

}  // namespace ncrewrite::testing
