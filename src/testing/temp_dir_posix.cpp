#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "testing/temp_dir.h"

namespace ncrewrite::testing {

std::vector<std::string> DirectoryEntries(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(TextOf(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::filesystem::path& path) noexcept {
  std::error_code ignored;
  // Tests may leave read-only directories behind; open them up first.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

}  // namespace ncrewrite::testing
