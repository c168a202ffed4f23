#include "fuzz_support.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace ncrewrite::fuzz {

std::string ScratchDirectory() {
  // Kept for the whole process and removed by an exit handler, which runs
  // after the destructors of statics made later: hence no std::string static.
  static const char* const directory = [] {
    std::string pattern = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                          "/ncrewrite-fuzz-XXXXXX";
    Require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    char* const kept = ::strdup(pattern.c_str());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDirectory(), ignored);
    });
    return kept;
  }();
  return directory;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Require(static_cast<bool>(out.flush()), "write scratch file");
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Require(static_cast<bool>(in), "read scratch file");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace ncrewrite::fuzz
