#include <unistd.h>

#include <cerrno>
#include <utility>

#include "textfile/file_handle.h"

namespace ncrewrite {

int FileHandle::Close() noexcept {
  if (handle_ == kNone) return 0;
  const int fd = static_cast<int>(std::exchange(handle_, kNone));
  // Linux releases the descriptor even when close is interrupted.
  return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

}  // namespace ncrewrite
