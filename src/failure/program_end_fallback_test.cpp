// How the real entry point ends a start-up or a shutdown that fails: with
// the fallback report and its number as the exit status, seen from outside
// on a build whose own start-up or shutdown work fails on purpose.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "failure/program_end_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::program_end {
namespace {

using testing::ReadFile;
using testing::WriteFile;

/// Runs the test build on `input`, asked to fail in `phase` (none: empty).
/// Under AddressSanitizer a block too large for any memory ends the process
/// unless the sanitizer is told to refuse it instead, as the system's
/// allocator does; its note of the refusal ("==pid==WARNING: ...") is no
/// part of what the program wrote.
testing::ProgramRun RunFallbackProbe(const std::string& input, const std::string& phase) {
  std::vector<std::string> arguments = {input};
  if (!phase.empty()) arguments.push_back(phase);
  testing::ProgramOptions options;
#if defined(__SANITIZE_ADDRESS__)
  options.environment = {"ASAN_OPTIONS=allocator_may_return_null=1"};
#endif
  testing::ProgramRun run = testing::RunProgram(NCREWRITE_FALLBACK_PROBE, arguments, options);
  std::string err;
  for (std::size_t start = 0; start < run.err.size();) {
    const std::size_t end = std::min(run.err.find('\n', start), run.err.size() - 1) + 1;
    if (run.err.compare(start, 2, "==") != 0) err.append(run.err, start, end - start);
    start = end;
  }
  run.err = err;
  return run;
}

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
    const testing::ProgramRun run = RunFallbackProbe(input, c.phase);
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
  const testing::ProgramRun plain = RunFallbackProbe(input, "");
  EXPECT_EQ(plain.exit_status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(ReadFile(input), kRewrittenText);
}

}  // namespace
}  // namespace ncrewrite::program_end
