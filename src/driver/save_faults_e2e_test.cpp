// End to end under real faults: the built executable, copied into a fresh
// directory, saving while it is killed, or while another instance works on
// the same file. Whatever happens, the user's file holds the old or the new
// content. (Outputs that cannot be made are in the failure table of
// run_rewrite_e2e_test.cpp.)

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/platform_facts.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::ReadFile;
using testing::WriteFile;

// A kill can come at any moment: before, during or after the temp file is
// written, or between the rename and the exit. The file is always whole.
TEST_F(SaveFaults, KilledAtRandomMomentsLeavesOldOrNewContent) {
  const std::string program = LargeProgram(kLargeSize);
  // The longest of three runs, so that a busy machine still lets some
  // rounds finish their save.
  double seconds = 0;
  for (int run = 0; run < 3; ++run) {
    WriteFile(part_, program);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(part_).exit_status, 0);
    seconds = std::max(seconds, std::chrono::duration<double>(
                                    std::chrono::steady_clock::now() - started).count());
  }
  const std::string rewritten = ReadFile(part_);
  ASSERT_NE(rewritten, program);

  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> moment(0, seconds * 1.5);
  int old_seen = 0;
  int new_seen = 0;
  for (int round = 0; round < 110; ++round) {
    WriteFile(part_, program);
    testing::RunningProgram running = testing::StartProgram(executable_, {part_});
    const double delay = moment(random);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    running.Stop();
    running.Wait();

    const std::string now = ReadFile(part_);
    ASSERT_TRUE(now == program || now == rewritten)
        << "round " << round << ", killed after " << delay << " s: " << now.size() << " bytes";
    (now == program ? old_seen : new_seen) += 1;
    // A killed process cannot clean up. What it leaves is a temp file that
    // nobody else can read, or, killed just before the rename, the whole new
    // content with the output's permissions.
    for (const std::string& name : Leftovers(jobs_)) {
      const fs::path leftover = jobs_ / testing::PathOf(name);
      if (testing::ThisPlatform().temp_file_tells_completeness_by_permissions &&
          fs::status(leftover).permissions() != (fs::perms::owner_read | fs::perms::owner_write)) {
        EXPECT_EQ(ReadFile(testing::TextOf(leftover)), rewritten) << "round " << round;
      }
      fs::remove(leftover);
    }
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

// Two instances on one file: each loads, rewrites and saves; one may be
// refused by the other's lock, or find the other's result in place of the
// file it loaded. The file ends as one whole result: the program rewritten
// once, or twice when the second loaded the first's result.
TEST_F(SaveFaults, TwoInstancesAtOnceLeaveOneValidResult) {
  const std::string program = LargeProgram(kLargeSize) + "M104\r\nM104\r\nM80\r\nM81\r\nM80\r\n";
  const std::string once = Rewritten(program);
  const std::string twice = Rewritten(once);
  ASSERT_NE(once, twice);
  for (int round = 0; round < 10; ++round) {
    WriteFile(part_, program);
    testing::RunningProgram first = testing::StartProgram(executable_, {part_});
    testing::RunningProgram second = testing::StartProgram(executable_, {part_});
    const ProgramRun runs[] = {first.Wait(), second.Wait()};
    int succeeded = 0;
    for (const ProgramRun& run : runs) {
      if (run.exit_status == 0) {
        ++succeeded;
      } else {
        EXPECT_EQ(run.exit_status, 1);
        // Refused by the other's hold on the file, while loading or while
        // saving; or the other's result took the name after this one had
        // loaded the file.
        if (run.err.find("EReadError") != std::string::npos) {
          ExpectFailureReport(run, executable_, "EReadError", "Stream-Lesefehler",
                              Reason::kNone);
          continue;
        }
        const bool load_refused = run.err.find("EFOpenError") != std::string::npos;
        ExpectFailureReport(run, executable_, load_refused ? "EFOpenError" : "EFCreateError",
                            load_refused ? "Datei " + part_ + " kann nicht ge\xC3\xB6" "ffnet werden. "
                                         : "Datei \"" + part_ + "\" kann nicht erstellt werden. ",
                            Reason::kSystem);
      }
    }
    EXPECT_GE(succeeded, 1);
    const std::string now = ReadFile(part_);
    EXPECT_TRUE(now == once || now == twice) << "round " << round;
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace ncrewrite::e2e
