#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "failure/debugger.h"

namespace ncrewrite {

// Linux names the process that traces this one in /proc/self/status
// ("TracerPid:\t0" when there is none). Read without allocating.
bool IsDebuggerAttached() noexcept {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char status[4096];
  std::size_t length = 0;
  for (;;) {
    const ssize_t got = ::read(fd, status + length, sizeof status - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
    if (length == sizeof status - 1) break;
  }
  ::close(fd);
  const std::string_view text(status, length);
  constexpr std::string_view kTracer = "\nTracerPid:";
  std::size_t at = text.find(kTracer);
  if (at == std::string_view::npos) return false;
  at += kTracer.size();
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  return at < text.size() && text[at] >= '1' && text[at] <= '9';
}

}  // namespace ncrewrite
