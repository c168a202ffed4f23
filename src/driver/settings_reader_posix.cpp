#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "driver/profile.h"
#include "driver/settings_reader.h"

namespace ncrewrite {
namespace {

/// The bytes of the regular file at `path`; empty when there is none or it
/// cannot be read, since a settings lookup never fails.
std::string ReadSettingsBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  const std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) { ::close(*f); });
  std::string bytes;
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    char chunk[65536];
    for (;;) {
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(got));
    }
  }
  return bytes;
}

}  // namespace

// Linux has no cached copy of the file to drop.
SettingsReader::~SettingsReader() = default;

std::u16string SettingsReader::ReadText(std::u16string_view section,
                                        std::u16string_view key) const {
  return FindProfileValue(DecodeProfile(ReadSettingsBytes(path_)), section, key);
}

}  // namespace ncrewrite
