#pragma once

// Test support: a fresh temporary directory per test, and small file helpers.
// DirectoryEntries and RemoveTree call the system (temp_dir_<platform>.cpp):
// each twin must handle paths of any length, as the program does, and
// RemoveTree must remove what tests leave read-only.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ncrewrite::testing {

/// The path that the UTF-8 text `text` names. (A std::string alone is taken
/// in the system's narrow encoding, which on Windows is not UTF-8.)
std::filesystem::path PathOf(std::string_view text);

/// The UTF-8 text of `path`.
std::string TextOf(const std::filesystem::path& path);

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The path of `name` inside the directory, as UTF-8 text.
  std::string File(std::string_view name) const { return TextOf(path_ / PathOf(name)); }

 private:
  std::filesystem::path path_;
};

/// Writes or reads the whole file at the UTF-8 path `path`.
void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);

/// The names in `directory`, as UTF-8 text, sorted.
std::vector<std::string> DirectoryEntries(const std::filesystem::path& directory);

/// Removes `path` and everything below it, read-only files and directories
/// included; links are removed, never followed. Errors are ignored: it
/// cleans up after a test.
void RemoveTree(const std::filesystem::path& path) noexcept;

}  // namespace ncrewrite::testing
