// How the real entry point ends a start-up or a shutdown that fails: with
// the fallback report and its number as the exit status, seen from outside
// on a build whose own start-up or shutdown work fails on purpose.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "failure/program_end_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::program_end {
namespace {

using testing::ReadFile;
using testing::WriteFile;

struct FallbackCase {
  const char* phase;  // argument 2 of the test build
  int status;
  bool run_done;  // the run came between start-up and shutdown
};

TEST_F(ProgramEndTest, FailedStartUpOrShutdownEndsWithTheFallbackReport) {
  const FallbackCase cases[] = {
      {"start-up", 217, false},
      {"start-up-memory", 203, false},
      {"shutdown", 217, true},
      {"shutdown-memory", 203, true},
  };
  const std::string input = dir_.File("part.nc");
  for (const FallbackCase& c : cases) {
    SCOPED_TRACE(c.phase);
    WriteFile(input, kProgramText);
    const testing::ProgramRun run = testing::RunProgram(NCREWRITE_FALLBACK_PROBE, {input, c.phase});
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    EXPECT_EQ(run.out, "");
    // No failure report before it: only the caption and the one line with
    // the number and the absolute code address.
    const std::regex report("Error\nRuntime error " + std::to_string(c.status) +
                            " at [0-9A-F]{16}\n");
    EXPECT_TRUE(std::regex_match(run.err, report)) << run.err;
    EXPECT_EQ(run.err.find("at 0000000000000000"), std::string::npos) << "no code address";
    EXPECT_EQ(ReadFile(input), c.run_done ? kRewrittenText : kProgramText);
  }

  // With nothing asked to fail, the build is the program.
  WriteFile(input, kProgramText);
  const testing::ProgramRun plain = testing::RunProgram(NCREWRITE_FALLBACK_PROBE, {input});
  EXPECT_EQ(plain.exit_status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(ReadFile(input), kRewrittenText);
}

}  // namespace
}  // namespace ncrewrite::program_end
