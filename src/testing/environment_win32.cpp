#include <windows.h>

#include <stdexcept>
#include <string>

#include "failure/platform_text.h"
#include "testing/environment.h"

namespace ncrewrite::testing {
namespace {

std::wstring Wide(const std::string& wtf8) {
  const std::u16string units = Utf16FromWtf8(wtf8);
  return std::wstring(units.begin(), units.end());
}

}  // namespace

void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wide_name = Wide(name);
  const std::wstring wide_value = value ? Wide(*value) : std::wstring();
  // The system's block: what programs started by CreateProcessW inherit.
  // The C runtime's copy for getenv is left alone (it cannot hold an empty
  // value); nothing here reads it.
  const BOOL changed =
      ::SetEnvironmentVariableW(wide_name.c_str(), value ? wide_value.c_str() : nullptr);
  const bool removed_already = !changed && !value && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
  if (!changed && !removed_already) {
    throw std::runtime_error("cannot change the environment variable " + name);
  }
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const std::wstring wide_name = Wide(name);
  std::wstring value(64, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length =
        ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    if (length < value.size()) {
      value.resize(length);
      return Wtf8FromUtf16(std::u16string(value.begin(), value.end()));
    }
    value.resize(length);  // the room needed, NUL included
  }
}

}  // namespace ncrewrite::testing
