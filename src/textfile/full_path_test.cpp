// FullPath, the path that failure messages name, on the cases where every
// platform's build must agree: relative paths against the current
// directory, "." and ".." resolved by name, repeated separators, long and
// non-ASCII names, files that do not exist. The paths are written with '/'
// here; each platform's result uses its own separator.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/temp_dir.h"
#include "textfile/file_io.h"

namespace ncrewrite {
namespace {

namespace fs = std::filesystem;

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

/// `relative` (with '/') appended to `base`, with the platform's separator.
std::string Under(const std::string& base, std::string relative) {
  for (char& c : relative) {
    if (c == '/') c = static_cast<char>(fs::path::preferred_separator);
  }
  const bool ends_in_separator = base.back() == static_cast<char>(fs::path::preferred_separator);
  return ends_in_separator ? base + relative
                           : base + static_cast<char>(fs::path::preferred_separator) + relative;
}

/// Makes `directory` the current directory for as long as it lives.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& directory) : saved_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~CurrentDirectory() { fs::current_path(saved_); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  fs::path saved_;
};

TEST(FullPath, ResolvesTheSameCasesOnEveryPlatform) {
  testing::TempDir dir;
  fs::create_directory(dir.path() / "cwd");
  const CurrentDirectory cwd(dir.path() / "cwd");
  // The directories as the platform names them (a temporary directory may
  // be reached through another name than the one it was made with).
  const fs::path current = fs::current_path();
  const std::string here = Utf8Of(current);
  const std::string parent = Utf8Of(current.parent_path());
  const std::string root = Utf8Of(current.root_path());
  std::string long_name;
  for (int k = 0; k < 30; ++k) long_name += "abcdefghij/";
  long_name += "part.nc";
  std::string up_past_the_root;
  for (int k = 0; k < 100; ++k) up_past_the_root += "../";

  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {"part.nc", Under(here, "part.nc")},
      {"./part.nc", Under(here, "part.nc")},
      {"missing/dir/part.nc", Under(here, "missing/dir/part.nc")},
      {"a/../part.nc", Under(here, "part.nc")},
      {"a/./b/../part.nc", Under(here, "a/part.nc")},
      {"a//b///part.nc", Under(here, "a/b/part.nc")},
      {".", here},
      {"a/..", here},
      {"..", parent},
      {"../x/part.nc", Under(parent, "x/part.nc")},
      {up_past_the_root + "x/part.nc", Under(root, "x/part.nc")},
      {Under(parent, "cwd/a/../b.nc"), Under(here, "b.nc")},
      {parent + "/./cwd//b.nc", Under(here, "b.nc")},
      {long_name, Under(here, long_name)},
      {"Fr\xC3\xA4se/\xE2\x82\xAC 6.nc", Under(here, "Fr\xC3\xA4se/\xE2\x82\xAC 6.nc")},
      // An unpaired surrogate (WTF-8 on Windows; bytes elsewhere) survives.
      {"lone\xED\xA0\x80.nc", Under(here, "lone\xED\xA0\x80.nc")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FullPath(c.path), c.expected) << c.path;
  }
}

}  // namespace
}  // namespace ncrewrite
