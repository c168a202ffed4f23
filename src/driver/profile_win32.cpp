#include <windows.h>

#include <algorithm>
#include <array>

#include "driver/profile.h"
#include "failure/windows_path.h"

namespace ncrewrite {
namespace {

LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

}  // namespace

// The system's private-profile reader, which also keeps a cached copy of
// the file.
std::u16string ReadProfileString(const std::string& path, std::u16string_view section,
                                 std::u16string_view key) {
  std::array<char16_t, kMaxSettingsValue + 1> value;
  const DWORD length = ::GetPrivateProfileStringW(
      Wide(std::u16string(section)), Wide(std::u16string(key)), L"",
      reinterpret_cast<LPWSTR>(value.data()), static_cast<DWORD>(value.size()),
      WindowsPath(path).c_str());
  return std::u16string(value.data(), std::min<std::size_t>(length, kMaxSettingsValue));
}

// Section, key and value all null: the request to drop the cached copy of
// the file, which writes nothing.
void FlushProfileCache(const std::string& path) noexcept {
  try {
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, WindowsPath(path).c_str());
  } catch (...) {
    // No memory for the path: the request is left out, as its result would
    // be ignored anyway.
  }
}

}  // namespace ncrewrite
