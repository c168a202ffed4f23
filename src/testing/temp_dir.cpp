#include "testing/temp_dir.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace ncrewrite::testing {

std::filesystem::path PathOf(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
  // create_directory makes a directory only where none is, so a name that
  // another process took in the meantime is never shared: try the next one.
  static std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path parent = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "ncrewrite-test-%016llx",
                  static_cast<unsigned long long>(random()));
    if (std::filesystem::create_directory(parent / name)) {
      path_ = parent / name;
      std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory in " + parent.string());
}

TempDir::~TempDir() { RemoveTree(path_); }

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace ncrewrite::testing
