#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdexcept>

#include "testing/held_file.h"

namespace ncrewrite::testing {

HeldFile::HeldFile(const std::string& path)
    : handle_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
  if (handle_ < 0) throw std::runtime_error("cannot open " + path);
  if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) != 0) {
    ::close(static_cast<int>(handle_));
    throw std::runtime_error("cannot lock " + path);
  }
}

HeldFile::~HeldFile() { ::close(static_cast<int>(handle_)); }

}  // namespace ncrewrite::testing
