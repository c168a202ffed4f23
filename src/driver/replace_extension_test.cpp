#include "driver/replace_extension.h"

#include <gtest/gtest.h>

namespace ncrewrite {
namespace {

struct Case {
  std::string_view path;
  std::string_view expected;
};

TEST(ReplaceExtension, ReplacesOnlyTheExtensionOfTheFileName) {
  const Case cases[] = {
      {R"(C:\jobs\part.nc)", R"(C:\jobs\part.tap)"},
      {R"(C:\jobs\part)", R"(C:\jobs\part.tap)"},
      {R"(C:\jobs.old\part)", R"(C:\jobs.old\part.tap)"},
      {R"(C:\jobs\part.tar.nc)", R"(C:\jobs\part.tar.tap)"},
      {R"(C:\jobs\part.)", R"(C:\jobs\part.tap)"},
      {R"(C:part.nc)", R"(C:part.tap)"},
      {R"(C:part)", R"(C:part.tap)"},
      {R"(.nc)", R"(.tap)"},
      {R"(C:\jobs\.nc)", R"(C:\jobs\.tap)"},
      {R"(C:\jobs\part.tap)", R"(C:\jobs\part.tap)"},
      {R"(C:\tools\rewrite.exe)", R"(C:\tools\rewrite.tap)"},
      {R"(\\server\jobs.old\part)", R"(\\server\jobs.old\part.tap)"},
      {"", ".tap"},
      // '/' separates directories as '\' does, on Windows as elsewhere.
      {"C:/jobs.old/part", "C:/jobs.old/part.tap"},
      {"C:/jobs/part.nc", "C:/jobs/part.tap"},
      {R"(C:\jobs.old/part)", R"(C:\jobs.old/part.tap)"},
      {R"(C:/jobs.old\part)", R"(C:/jobs.old\part.tap)"},
      {"/jobs/part.nc", "/jobs/part.tap"},
      {"/jobs/part", "/jobs/part.tap"},
      {"/jobs.old/part", "/jobs.old/part.tap"},
      {"/jobs/part.tar.nc", "/jobs/part.tar.tap"},
      {"/jobs/part.", "/jobs/part.tap"},
      {"part.nc", "part.tap"},
      {"/jobs/.nc", "/jobs/.tap"},
      {"/opt/tools/ncrewrite", "/opt/tools/ncrewrite.tap"},
      {"jobs.old/", "jobs.old/.tap"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.path, ".tap"), c.expected) << c.path;
  }
  EXPECT_EQ(ReplaceExtension(R"(C:\tools\rewrite.exe)", ".ini"), R"(C:\tools\rewrite.ini)");
}

}  // namespace
}  // namespace ncrewrite
