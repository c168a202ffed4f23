#include "failure/windows_path.h"

#include <windows.h>

#include <algorithm>

#include "failure/platform_text.h"

namespace ncrewrite {
namespace {

// Below MAX_PATH (260 with the terminating NUL) by the room that Windows
// keeps for a file name in a directory: CreateDirectoryW and the names made
// beside a file (a temporary file) must fit as well as the path itself.
constexpr std::size_t kLongPath = MAX_PATH - 12;

bool HasPrefix(const std::wstring& path, std::wstring_view prefix) {
  return std::wstring_view(path).starts_with(prefix);
}

}  // namespace

std::wstring FullPathName(const std::wstring& path) {
  std::wstring full(std::max<std::size_t>(MAX_PATH, path.size() + 1), L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    // Too small: `length` is the room needed, NUL included. The current
    // directory may change meanwhile, so the call is made again until the
    // result fits.
    full.resize(length);
  }
}

std::wstring WindowsPath(std::string_view path) {
  const std::u16string units = Utf16FromWtf8(path);
  std::wstring given(units.begin(), units.end());
  if (HasPrefix(given, LR"(\\?\)") || HasPrefix(given, LR"(\\.\)")) return given;
  std::wstring full = FullPathName(given);
  if (std::max(given.size(), full.size()) < kLongPath) return given;
  if (full.empty()) return given;  // the system could make no full form of it
  // A device ("\\.\NUL") or an extended path that the full form gave.
  if (HasPrefix(full, LR"(\\?\)") || HasPrefix(full, LR"(\\.\)")) return full;
  if (HasPrefix(full, LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

}  // namespace ncrewrite
