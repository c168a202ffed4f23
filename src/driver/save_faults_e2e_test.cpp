// End to end under real faults: the built executable, copied into a fresh
// directory, saving while the disk is full, memory runs out, permissions
// forbid it, it is killed, or another instance works on the same file.
// Whatever happens, the user's file holds the old or the new content.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

namespace fs = std::filesystem;
using testing::ProgramOptions;
using testing::ProgramRun;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The user the unprivileged cases run as when the tests run as root.
constexpr uid_t kNobody = 65534;

// Under AddressSanitizer the program runs several times slower, so the
// large files shrink; and an address-space limit cannot be combined with it,
// since it reserves terabytes of shadow memory at start.
#if defined(NCREWRITE_SANITIZED)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Size of the programs that are killed or raced: large enough that a save
// takes a while.
constexpr std::size_t kLargeSize = kAddressSanitizer ? 300'000 : 2'000'000;

/// A program of about `size` bytes with something to rewrite every few
/// lines, so that old and new content differ all through the file.
std::string LargeProgram(std::size_t size) {
  static constexpr std::string_view kPattern =
      "G1 X10.000 Y20.000 Z-1.500 F1200\r\nM104\r\nG0 X0 Y0\r\nM80\r\nM81\r\nT1 M6\r\n";
  std::string program;
  program.reserve(size + kPattern.size());
  while (program.size() < size) program.append(kPattern);
  return program;
}

/// Whether a file holds `expected`, for contents too large for EXPECT_EQ:
/// the diff it shows of two texts takes memory quadratic in their lines.
::testing::AssertionResult Holds(const std::string& path, const std::string& expected) {
  const std::string actual = ReadFile(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure()
         << path << " holds " << actual.size() << " bytes where " << expected.size()
         << " were expected; they differ first at byte " << (differ.first - actual.begin());
}

/// The temp files that a save left in `directory`.
std::vector<std::string> Leftovers(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".ncrewrite-")) names.push_back(name);
  }
  return names;
}

class SaveFaults : public ::testing::Test {
 protected:
  SaveFaults() {
    fs::copy_file(NCREWRITE_EXECUTABLE, executable_);
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::create_directory(jobs_);
  }

  void UseTapOutput() { WriteFile(dir_.File("ncrewrite.ini"), "[common]\ntest=1\n"); }

  ProgramRun Run(const std::string& input, ProgramOptions options = {}) {
    return testing::RunProgram(executable_, {input}, options);
  }

  /// Runs as an ordinary user, for whom permissions count; as root, that is
  /// the user nobody, who then owns the jobs directory and what is in it.
  ProgramRun RunAsUser(const std::string& input) {
    if (::geteuid() != 0) return Run(input);
    for (const auto& entry : fs::recursive_directory_iterator(jobs_)) {
      EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
    }
    EXPECT_EQ(::chown(jobs_.c_str(), kNobody, kNobody), 0);
    return testing::RunProgram("/usr/bin/setpriv",
                               {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                executable_, input});
  }

  /// What a successful run makes of `content`.
  std::string Rewritten(const std::string& content) {
    const std::string scratch = dir_.File("scratch.nc");
    WriteFile(scratch, content);
    const ProgramRun run = Run(scratch);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return ReadFile(scratch);
  }

  TempDir dir_;
  const std::string executable_ = dir_.File("ncrewrite");
  const fs::path jobs_ = dir_.path() / "jobs";
  const std::string part_ = (jobs_ / "part.nc").string();
  const std::string tap_ = (jobs_ / "part.tap").string();
};

void ExpectFailure(const ProgramRun& run, std::string_view kind, std::string_view message) {
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find(kind), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

// A file-size limit (ulimit -f) stops the writing as a full disk would. The
// program starts with SIGXFSZ at its default action, as a shell starts it:
// the program itself must turn the signal into a write that fails.
TEST_F(SaveFaults, FullDiskFailsWithWriteErrorAndLeavesEverythingAsItWas) {
  const std::string program = LargeProgram(300'000);
  ProgramOptions disk_full;
  disk_full.limits = {{RLIMIT_FSIZE, 100'000}};
  for (const bool tap : {false, true}) {
    if (tap) UseTapOutput();
    WriteFile(part_, program);
    ExpectFailure(Run(part_, disk_full), "EWriteError", "Stream-Schreibfehler");
    EXPECT_TRUE(Holds(part_, program));
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

TEST_F(SaveFaults, OutputThatIsADirectoryFailsWithCreateError) {
  UseTapOutput();
  WriteFile(part_, "M104\nM80\n");
  fs::create_directory(tap_);
  ExpectFailure(Run(part_), "EFCreateError",
                "Datei \"" + tap_ + "\" kann nicht erstellt werden. Is a directory");
  EXPECT_TRUE(fs::is_empty(tap_));
}

struct PermissionCase {
  const char* name;
  bool tap;
  fs::perms input;      // permissions of part.nc
  fs::perms directory;  // permissions of the jobs directory
  const char* kind;     // nullptr: the run succeeds
  bool message_names_tap;
  const char* message;
};

// Read-only files and directories, and an unreadable input, for a user
// whom the permissions bind.
TEST_F(SaveFaults, PermissionsAreHonoured) {
  using enum fs::perms;
  const fs::perms rw = owner_read | owner_write;
  const fs::perms ro = owner_read;
  const fs::perms dir_rwx = owner_all;
  const fs::perms dir_rx = owner_read | owner_exec;
  const PermissionCase cases[] = {
      {"read-only input overwritten", false, ro, dir_rwx, "EFCreateError", false,
       "kann nicht erstellt werden. Permission denied"},
      {"read-only directory: written in place", false, rw, dir_rx, nullptr, false, ""},
      {"read-only directory: no .tap can be made", true, rw, dir_rx, "EFCreateError", true,
       "kann nicht erstellt werden. Permission denied"},
      {"unreadable input", false, owner_write, dir_rwx, "EFOpenError", false,
       "kann nicht geöffnet werden. Permission denied"},
  };
  const std::string program = "A\nM104\nM80\nM81\nB\n";
  const std::string rewritten = "A\r\nM104 M180\r\nB\r\n";
  for (const PermissionCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::permissions(jobs_, dir_rwx);
    fs::remove_all(jobs_);
    fs::create_directory(jobs_);
    fs::remove(dir_.File("ncrewrite.ini"));
    if (c.tap) UseTapOutput();
    WriteFile(part_, program);
    fs::permissions(part_, c.input);
    fs::permissions(jobs_, c.directory);

    const ProgramRun run = RunAsUser(part_);

    fs::permissions(jobs_, dir_rwx);
    fs::permissions(part_, rw);
    if (c.kind == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(ReadFile(part_), rewritten);
    } else {
      const std::string& named = c.message_names_tap ? tap_ : part_;
      const std::string quote = std::string_view(c.kind) == "EFCreateError" ? "\"" : "";
      ExpectFailure(run, c.kind, "Datei " + quote + named + quote + " " + c.message);
      EXPECT_EQ(ReadFile(part_), program);
    }
    EXPECT_EQ(fs::status(part_).permissions(), rw);  // as reset above: nothing else
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

// Memory runs out at different steps of the run (start-up, loading,
// rewriting, and with the temp file made, saving): each run either succeeds,
// or fails with EOutOfMemory (or, with too little memory to start, does not
// start at all), and the input holds the new or the old content.
TEST_F(SaveFaults, OutOfMemoryLeavesTheInputUnchanged) {
  if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
  const std::string program = LargeProgram(4'000'000);
  const std::string rewritten = Rewritten(program);
  int out_of_memory = 0;
  const auto succeeds_with_limit = [&](std::uint64_t limit) {
    WriteFile(part_, program);
    ProgramOptions options;
    options.limits = {{RLIMIT_AS, limit}};
    const ProgramRun run = Run(part_, options);
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{}) << limit;
    if (run.exit_status == 0) {
      EXPECT_TRUE(Holds(part_, rewritten)) << limit;
      return true;
    }
    if (run.err.find("error while loading shared libraries") == std::string::npos) {
      ExpectFailure(run, "EOutOfMemory", "");
      ++out_of_memory;
    }
    EXPECT_TRUE(Holds(part_, program)) << limit;
    return false;
  };

  // Find the least limit (to 32 KiB) that suffices, then fail just below it
  // in small steps, where the last allocations of the run are refused.
  constexpr std::uint64_t kStep = 32 * 1024;
  std::uint64_t too_small = 1024 * 1024;
  std::uint64_t enough = 512 * 1024 * 1024;
  ASSERT_FALSE(succeeds_with_limit(too_small));
  ASSERT_TRUE(succeeds_with_limit(enough));
  while (enough - too_small > kStep) {
    const std::uint64_t middle = (too_small + enough) / 2;
    (succeeds_with_limit(middle) ? enough : too_small) = middle;
  }
  for (std::uint64_t below = kStep; below <= 32 * kStep; below += kStep) {
    succeeds_with_limit(enough - below);
  }
  EXPECT_GT(out_of_memory, 0);
}

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
    const timespec pause{0, static_cast<long>(delay * 1e9)};
    ::nanosleep(&pause, nullptr);
    running.Kill(SIGKILL);
    running.Wait();

    const std::string now = ReadFile(part_);
    ASSERT_TRUE(now == program || now == rewritten)
        << "round " << round << ", killed after " << delay << " s: " << now.size() << " bytes";
    (now == program ? old_seen : new_seen) += 1;
    // A killed process cannot clean up. What it leaves is a temp file that
    // nobody else can read, or, killed just before the rename, the whole new
    // content with the output's permissions.
    for (const std::string& name : Leftovers(jobs_)) {
      const fs::path leftover = jobs_ / name;
      if (fs::status(leftover).permissions() != (fs::perms::owner_read | fs::perms::owner_write)) {
        EXPECT_TRUE(Holds(leftover.string(), rewritten)) << "round " << round;
      }
      fs::remove(leftover);
    }
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

// Two instances on one file: each loads, rewrites and saves; one may be
// refused by the other's lock. The file ends as one whole result: the
// program rewritten once, or twice when the second loaded the first's result.
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
        // Refused by the other's lock, while loading or while saving.
        EXPECT_TRUE(run.err.find("EFCreateError") != std::string::npos ||
                    run.err.find("EFOpenError") != std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("Resource temporarily unavailable"), std::string::npos) << run.err;
      }
    }
    EXPECT_GE(succeeded, 1);
    const std::string now = ReadFile(part_);
    EXPECT_TRUE(now == once || now == twice) << "round " << round;
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace ncrewrite
