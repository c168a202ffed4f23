#include "driver/replace_extension.h"

#include <gtest/gtest.h>

namespace ncrewrite {
namespace {

struct Case {
  std::string_view path;
  std::string_view expected;
};

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
