#pragma once

// End to end: the built executable, copied into a fresh directory together
// with its own settings file, run on real files, also under real faults.
// The fixtures of the tests that every platform runs and of those that only
// POSIX systems run (*_posix_test.cpp).

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {

inline constexpr std::string_view kProgram = "A\r\nM104\r\nB\nM80\nM81\nC";
inline constexpr std::string_view kRewritten = "A\r\nM104 M180\r\nB\r\nC\r\n";

/// The file name of the built program (with its extension, where the
/// platform has one).
inline std::string ExecutableName() {
  return std::filesystem::path(NCREWRITE_EXECUTABLE).filename().string();
}

class RewriteRun : public ::testing::Test {
 protected:
  RewriteRun() { std::filesystem::copy_file(NCREWRITE_EXECUTABLE, executable_); }

  void WriteSettings(std::string_view text) { testing::WriteFile(dir_.File("ncrewrite.ini"), text); }

  testing::ProgramRun Run(const std::vector<std::string>& arguments) {
    testing::ProgramOptions options;
    options.directory = dir_.path().string();
    return testing::RunProgram(executable_, arguments, options);
  }

  /// Runs on `file` and expects a silent success.
  void RunSilently(const std::string& file) {
    const testing::ProgramRun run = Run({file});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }

  /// Runs with each argument list and expects the run to do nothing: status
  /// 0, no output, no file made.
  void ExpectNothingDoneFor(const std::vector<std::vector<std::string>>& argument_lists) {
    const std::vector<std::string> entries = testing::DirectoryEntries(dir_.path());
    for (const auto& arguments : argument_lists) {
      const testing::ProgramRun run = Run(arguments);
      EXPECT_EQ(run.exit_status, 0) << (arguments.empty() ? "none" : arguments[0]);
      EXPECT_EQ(run.out + run.err, "");
    }
    EXPECT_EQ(testing::DirectoryEntries(dir_.path()), entries);
  }

  testing::TempDir dir_;
  std::string executable_ = dir_.File(ExecutableName());
};

/// Expects a failure run: status 1, the kind and message on standard error.
inline void ExpectFailure(const testing::ProgramRun& run, std::string_view kind,
                          std::string_view message) {
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find(kind), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

// Size of the programs that are killed or raced: large enough that a save
// takes a while. Under AddressSanitizer the program runs several times
// slower, so they shrink.
#if defined(NCREWRITE_SANITIZED)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
inline constexpr std::size_t kLargeSize = kAddressSanitizer ? 300'000 : 2'000'000;

/// A program of about `size` bytes with something to rewrite every few
/// lines, so that old and new content differ all through the file.
inline std::string LargeProgram(std::size_t size) {
  static constexpr std::string_view kPattern =
      "G1 X10.000 Y20.000 Z-1.500 F1200\r\nM104\r\nG0 X0 Y0\r\nM80\r\nM81\r\nT1 M6\r\n";
  std::string program;
  program.reserve(size + kPattern.size());
  while (program.size() < size) program.append(kPattern);
  return program;
}

/// The temp files that a save left in `directory`.
inline std::vector<std::string> Leftovers(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".ncrewrite-")) names.push_back(name);
  }
  return names;
}

/// The program copied into a fresh directory that others may read, and a
/// directory jobs/ beside it for the program files.
class SaveFaults : public ::testing::Test {
 protected:
  SaveFaults() {
    namespace fs = std::filesystem;
    fs::copy_file(NCREWRITE_EXECUTABLE, executable_);
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::create_directory(jobs_);
  }

  void UseTapOutput() { testing::WriteFile(dir_.File("ncrewrite.ini"), "[common]\ntest=1\n"); }

  /// Empties jobs/ but for `program` at part.nc (and an old part.tap where
  /// `tap_exists`), with the settings for a .tap output where `tap`, else
  /// none.
  void StartOver(const std::string& program, bool tap, bool tap_exists = false) {
    std::filesystem::remove_all(jobs_);
    std::filesystem::create_directory(jobs_);
    std::filesystem::remove(dir_.File("ncrewrite.ini"));
    if (tap) UseTapOutput();
    testing::WriteFile(part_, program);
    if (tap_exists) testing::WriteFile(tap_, "OLD\r\n");
  }

  testing::ProgramRun Run(const std::string& input) {
    return testing::RunProgram(executable_, {input});
  }

  /// What a successful run makes of `content`.
  std::string Rewritten(const std::string& content) {
    const std::string scratch = dir_.File("scratch.nc");
    testing::WriteFile(scratch, content);
    const testing::ProgramRun run = Run(scratch);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return testing::ReadFile(scratch);
  }

  testing::TempDir dir_;
  const std::string executable_ = dir_.File(ExecutableName());
  const std::filesystem::path jobs_ = dir_.path() / "jobs";
  const std::string part_ = (jobs_ / "part.nc").string();
  const std::string tap_ = (jobs_ / "part.tap").string();
};

}  // namespace ncrewrite::e2e
