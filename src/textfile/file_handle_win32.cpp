#include <windows.h>

#include <utility>

#include "textfile/file_handle.h"

namespace ncrewrite {

int FileHandle::Close() noexcept {
  if (handle_ == kNone) return 0;
  const auto handle = reinterpret_cast<HANDLE>(std::exchange(handle_, kNone));
  return ::CloseHandle(handle) ? 0 : static_cast<int>(::GetLastError());
}

}  // namespace ncrewrite
