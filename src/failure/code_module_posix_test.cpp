// Where code lies: the module and offset that LocateCode finds, against the
// mappings that the system lists for this process.

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>

#include "failure/failure_report.h"

namespace ncrewrite {
namespace {

// The tests run in ncrewrite_tests, so that is the module of its own code.
constexpr const char* kTestModule = "ncrewrite_tests";

/// The start of the lowest mapping of the file `path` in this process, read
/// from /proc/self/maps: where the module's image begins.
std::uint64_t LowestMappingOf(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::uint64_t lowest = UINT64_MAX;
  while (std::getline(maps, line)) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos || line.substr(slash) != path) continue;
    lowest = std::min<std::uint64_t>(lowest, std::stoull(line, nullptr, 16));
  }
  return lowest;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

TEST(LocateCodeTest, FindsTheModuleAndTheOffsetFromItsLoadAddress) {
  const auto own_code = reinterpret_cast<std::uintptr_t>(&LocateCode);
  const CodeLocation own = LocateCode(own_code);
  EXPECT_EQ(own.module_name, kTestModule);
  EXPECT_EQ(own.offset, own_code - LowestMappingOf(RealPath("/proc/self/exe")));

  // Code of a shared library lies in that library, not in the executable.
  const auto library_code = reinterpret_cast<std::uintptr_t>(&::getpid);
  const CodeLocation library = LocateCode(library_code);
  EXPECT_EQ(library.module_name.rfind("libc.so", 0), 0u) << library.module_name;
}

}  // namespace
}  // namespace ncrewrite
