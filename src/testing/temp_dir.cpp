#include "testing/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

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

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; open them up first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

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

std::vector<std::string> DirectoryEntries(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(TextOf(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ncrewrite::testing
