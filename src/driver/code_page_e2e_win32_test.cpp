// The runs of the end-to-end tables in a given locale (see
// src/driver/CMakeLists.txt) name the ANSI code page that it must give
// programs; this checks that the programs get it, so that such a run cannot
// pass on another code page unnoticed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/run_program.h"

namespace ncrewrite {
namespace {

TEST(SystemCodePage, ProgramsGetTheCodePageOfTheLocale) {
  const char* const expected = std::getenv("NCREWRITE_EXPECT_ANSI_CODE_PAGE");
  if (expected == nullptr) GTEST_SKIP() << "run in no particular locale";
  EXPECT_EQ(std::to_string(::GetACP()), expected);
  const testing::ProgramRun run = testing::RunProgram(NCREWRITE_CODE_PAGE_PROBE, {});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, expected);
}

}  // namespace
}  // namespace ncrewrite
