// End to end under faults that only POSIX systems can bring about for one
// process: a full disk (a file-size limit), memory running out (an
// address-space limit), and permissions that bind the user. Whatever
// happens, the user's file holds the old or the new content.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/run_program.h"
#include "testing/run_program_posix.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::PosixOptions;
using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

// The user the unprivileged cases run as when the tests run as root.
constexpr uid_t kNobody = 65534;

/// Runs `executable` on `input` as an ordinary user, for whom permissions
/// count; as root, that is the user nobody, who then owns `jobs` and what is
/// in it.
ProgramRun RunAsUser(const std::string& executable, const fs::path& jobs,
                     const std::string& input) {
  if (::geteuid() != 0) return RunProgram(executable, {input});
  for (const auto& entry : fs::recursive_directory_iterator(jobs)) {
    EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
  }
  EXPECT_EQ(::chown(jobs.c_str(), kNobody, kNobody), 0);
  return RunProgram("/usr/bin/setpriv",
                    {"--reuid=65534", "--regid=65534", "--clear-groups", "--", executable, input});
}

TEST_F(SaveFaults, FullDiskFailsWithWriteErrorAndLeavesEverythingAsItWas) {
  const std::string program = LargeProgram(300'000);
  PosixOptions disk_full;
  disk_full.limits = {{RLIMIT_FSIZE, 100'000}};
  disk_full.ignored_signals = {SIGXFSZ};
  for (const bool tap : {false, true}) {
    if (tap) UseTapOutput();
    WriteFile(part_, program);
    ExpectFailure(RunProgram(executable_, {part_}, {}, disk_full), "EWriteError", "Stream-Schreibfehler");
    EXPECT_EQ(ReadFile(part_), program);
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
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

    const ProgramRun run = RunAsUser(executable_, jobs_, part_);

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
  // AddressSanitizer reserves terabytes of shadow memory at start, which no
  // address-space limit lets through.
  if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
  const std::string program = LargeProgram(4'000'000);
  const std::string rewritten = Rewritten(program);
  int out_of_memory = 0;
  const auto succeeds_with_limit = [&](std::uint64_t limit) {
    WriteFile(part_, program);
    PosixOptions options;
    options.limits = {{RLIMIT_AS, limit}};
    const ProgramRun run = RunProgram(executable_, {part_}, {}, options);
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{}) << limit;
    if (run.exit_status == 0) {
      EXPECT_EQ(ReadFile(part_), rewritten) << limit;
      return true;
    }
    if (run.err.find("error while loading shared libraries") == std::string::npos) {
      ExpectFailure(run, "EOutOfMemory", "");
      ++out_of_memory;
    }
    EXPECT_EQ(ReadFile(part_), program) << limit;
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

}  // namespace
}  // namespace ncrewrite::e2e
