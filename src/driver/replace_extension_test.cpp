#include "driver/replace_extension.h"

#include <gtest/gtest.h>

namespace ncrewrite {
namespace {

struct Case {
  std::string_view path;
  std::string_view expected;
};

// Where every platform's build must agree: the platform's own style stops
// the search at '/', '\\' and ':' alike, so that a dot in a directory name is
// never taken for the extension, whichever separator the path uses.
TEST(ReplaceExtension, NativeStyleIsTheSameOnEveryPlatform) {
  struct NativeCase {
    std::string_view path;
    std::string_view extension;
    std::string_view expected;
  };
  const NativeCase cases[] = {
      {R"(C:\jobs\part.nc)", ".tap", R"(C:\jobs\part.tap)"},
      {R"(C:\jobs.old\part)", ".tap", R"(C:\jobs.old\part.tap)"},
      {"C:/jobs.old/part", ".tap", "C:/jobs.old/part.tap"},
      {R"(C:/jobs.old\part)", ".tap", R"(C:/jobs.old\part.tap)"},
      {R"(C:\jobs.old/part)", ".tap", R"(C:\jobs.old/part.tap)"},
      {R"(\\server\cam.share\part)", ".tap", R"(\\server\cam.share\part.tap)"},
      {"/jobs.old/part", ".tap", "/jobs.old/part.tap"},
      {"C:part.nc", ".tap", "C:part.tap"},
      {"C:.nc", ".tap", "C:.tap"},
      {"", ".tap", ".tap"},
      {R"(C:\tools\rewrite.exe)", ".ini", R"(C:\tools\rewrite.ini)"},
      {"/opt/tools.d/ncrewrite", ".ini", "/opt/tools.d/ncrewrite.ini"},
  };
  for (const NativeCase& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.path, c.extension), c.expected) << c.path;
  }
}

TEST(ReplaceExtension, WindowsPaths) {
  const Case cases[] = {
      {R"(C:\jobs\part.nc)", R"(C:\jobs\part.tap)"},
      {R"(C:\jobs\part)", R"(C:\jobs\part.tap)"},
      {R"(C:\jobs.old\part)", R"(C:\jobs.old\part.tap)"},
      {R"(C:\jobs\part.tar.nc)", R"(C:\jobs\part.tar.tap)"},
      {R"(C:\jobs\part.)", R"(C:\jobs\part.tap)"},
      {R"(C:part.nc)", R"(C:part.tap)"},
      {R"(.nc)", R"(.tap)"},
      {R"(C:/jobs.old/part)", R"(C:/jobs.tap)"},
      {R"(C:\jobs\part.tap)", R"(C:\jobs\part.tap)"},
      {R"(C:\tools\rewrite.exe)", R"(C:\tools\rewrite.tap)"},
      {"", ".tap"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.path, ".tap", PathStyle::kWindows), c.expected) << c.path;
  }
}

TEST(ReplaceExtension, PosixPathsNeverTakeADottedDirectoryForTheExtension) {
  const Case cases[] = {
      {"/jobs/part.nc", "/jobs/part.tap"},
      {"/jobs/part", "/jobs/part.tap"},
      {"/jobs.old/part", "/jobs.old/part.tap"},
      {"/jobs/part.tar.nc", "/jobs/part.tar.tap"},
      {"/jobs/part.", "/jobs/part.tap"},
      {"part.nc", "part.tap"},
      {"/jobs/.nc", "/jobs/.tap"},
      {"/jobs/part.tap", "/jobs/part.tap"},
      {"/opt/tools/ncrewrite", "/opt/tools/ncrewrite.tap"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.path, ".tap", PathStyle::kPosix), c.expected) << c.path;
  }
}

}  // namespace
}  // namespace ncrewrite
