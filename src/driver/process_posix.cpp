#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/process.h"
#include "failure/code_module.h"

namespace ncrewrite {
namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  // Swapped in, so that an empty command line gives back all the memory.
  std::vector<std::string>(argv, argv + argc).swap(Arguments());
}

std::string GetCommandArgument(std::int32_t index) {
  const std::vector<std::string>& arguments = Arguments();
  if (index < 0 || static_cast<std::size_t>(index) >= arguments.size()) return {};
  return arguments[static_cast<std::size_t>(index)];
}

// The failure report names the same file, so both ask the same question.
std::string GetExecutablePath() { return OwnExecutablePath(); }

bool IsExistingFile(const std::string& path) {
  struct stat status;
  if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  struct stat link_status;
  if (::lstat(path.c_str(), &link_status) != 0) return false;
  if (!S_ISLNK(link_status.st_mode)) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace ncrewrite
