#include <windows.h>

#include <algorithm>
#include <string>

#include "failure/code_module.h"
#include "failure/platform_text.h"

namespace ncrewrite {
namespace {

// A module path is read into 261 characters, room for the longest
// traditional path and its NUL. Only a path that fills it all, and so may
// have been cut, is read again into more room, up to the longest path that
// Windows knows.
constexpr DWORD kPathRoom = MAX_PATH + 1;
constexpr DWORD kLongestPath = 32767;

/// The full path of `module` (null: the executable); false when the system
/// knows no module by that handle.
bool ModulePath(HMODULE module, std::string& path) {
  std::u16string units(kPathRoom, u'\0');
  for (;;) {
    const auto room = static_cast<DWORD>(units.size());
    const DWORD length = ::GetModuleFileNameW(module, reinterpret_cast<LPWSTR>(units.data()), room);
    if (length == 0) return false;
    if (length < room || room > kLongestPath) {
      units.resize(std::min(length, room - 1));
      path = Wtf8FromUtf16(units);
      return true;
    }
    units.resize(units.size() * 2);
  }
}

}  // namespace

bool FindCodeModule(std::uint64_t address, CodeModule& module) {
  MEMORY_BASIC_INFORMATION region;
  static_assert(sizeof region == 48, "the region record of x86-64");
  const auto* where = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
  if (::VirtualQuery(where, &region, sizeof region) == 0) return false;
  // Only an image has a file name: for the heap, a stack or a free region
  // the allocation base is no module.
  if (region.State != MEM_COMMIT) return false;
  if (!ModulePath(static_cast<HMODULE>(region.AllocationBase), module.path)) return false;
  module.load_address = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
  return true;
}

std::string OwnExecutablePath() {
  std::string path;
  ModulePath(nullptr, path);
  return path;
}

char ModulePathSeparator() noexcept { return '\\'; }

}  // namespace ncrewrite
