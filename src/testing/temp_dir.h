#pragma once

// Test support: a fresh temporary directory per test, and small file helpers.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ncrewrite::testing {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The path of `name` inside the directory, as a string.
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);

/// The names in `directory`, sorted.
std::vector<std::string> DirectoryEntries(const std::filesystem::path& directory);

}  // namespace ncrewrite::testing
