// How the real program ends: its failure report and its exit status, seen
// from outside.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "failure/program_end_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::program_end {
namespace {

using testing::ReadFile;

TEST_F(ProgramEndTest, FailureRunShowsTheTwoLineReportAndEndsWithStatus1) {
  const auto [program, run] = RunIntoCreateFailure();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 3u) << run.err;
  EXPECT_EQ(run.err.back(), '\n');
  EXPECT_EQ(lines[0], "Anwendungsfehler");
  EXPECT_TRUE(std::regex_match(lines[1], CreateFailureLine1())) << lines[1];
  const std::string expected_start = "Datei \"" + dir_.File("part.tap") + "\" kann nicht erstellt werden. ";
  EXPECT_EQ(lines[2].rfind(expected_start, 0), 0u) << lines[2];
  EXPECT_GT(lines[2].size(), expected_start.size() + 1) << "no reason given";
  EXPECT_EQ(lines[2].back(), '.');
  EXPECT_NE(lines[2].substr(lines[2].size() - 2), "..");
  EXPECT_EQ(ReadFile(dir_.File("part.nc")), kProgramText);
}

}  // namespace
}  // namespace ncrewrite::program_end
