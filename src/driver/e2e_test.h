#pragma once

// End to end: the built executable, copied into a fresh directory together
// with its own settings file, run on real files, also under real faults.
// The fixtures of the tests that every platform runs and of those that only
// one platform runs (*_posix_test.cpp, *_win32_test.cpp). Every platform
// runs the same tables; where platforms differ, the difference is a fact in
// testing/platform_facts.h.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {

inline constexpr std::string_view kProgram = "A\r\nM104\r\nB\nM80\nM81\nC";
inline constexpr std::string_view kRewritten = "A\r\nM104 M180\r\nB\r\nC\r\n";

/// The built program: NCREWRITE_EXECUTABLE, or the copy that the
/// environment variable NCREWRITE_PROGRAM_UNDER_TEST names, for a run as a
/// user who cannot read the build tree.
inline std::string ProgramUnderTest() {
  const char* const copy = std::getenv("NCREWRITE_PROGRAM_UNDER_TEST");
  return copy != nullptr && copy[0] != '\0' ? copy : NCREWRITE_EXECUTABLE;
}

/// The file name of the built program (with its extension, where the
/// platform has one).
inline std::string ExecutableName() {
  return testing::TextOf(testing::PathOf(ProgramUnderTest()).filename());
}

/// The name of the program's settings file: the executable's name with the
/// extension .ini.
inline std::string SettingsName() {
  return testing::TextOf(testing::PathOf(ProgramUnderTest()).stem()) + ".ini";
}

/// `text` with every character that a regular expression gives a meaning
/// to taken literally.
inline std::string Literally(std::string_view text) {
  std::string pattern;
  for (const char c : text) {
    if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

/// Expects a failure run: status 1, the kind and message on standard error.
inline void ExpectFailure(const testing::ProgramRun& run, std::string_view kind,
                          std::string_view message) {
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find(kind), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

/// What follows the fixed part of a failure message.
enum class Reason {
  kNone,    // nothing: the message is fixed
  kSystem,  // the system's text for the error, which differs from system to system
};

/// Expects a failure run of `executable` as users see it on standard error:
/// status 1, nothing on standard output, and the failure report, caption
/// line first, with line 1 naming `kind`, the executable's file name and a
/// code offset inside the executable, and line 2 holding the message that
/// begins with `message`, then the system's text if `reason` asks for one,
/// and the period that the report adds.
inline void ExpectFailureReport(const testing::ProgramRun& run, const std::string& executable,
                                std::string_view kind, std::string_view message, Reason reason) {
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(run.out, "");
  std::vector<std::string> lines;
  for (std::size_t begin = 0, end; (end = run.err.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(run.err.substr(begin, end - begin));
  }
  ASSERT_EQ(lines.size(), 3u) << run.err;
  ASSERT_EQ(run.err.back(), '\n') << run.err;
  EXPECT_EQ(lines[0], "Anwendungsfehler");
  const std::string module = testing::TextOf(testing::PathOf(executable).filename());
  const std::regex line1("Exception " + Literally(kind) + " in Modul " + Literally(module) +
                         " bei ([0-9A-F]{16})\\.");
  std::smatch offset_digits;
  ASSERT_TRUE(std::regex_match(lines[1], offset_digits, line1)) << lines[1];
  // An offset, not an address: it lies inside the executable's image, which
  // is smaller than its file (that also holds the debug information).
  const std::uint64_t offset = std::stoull(offset_digits[1].str(), nullptr, 16);
  EXPECT_GT(offset, 0u) << lines[1];
  EXPECT_LT(offset, std::filesystem::file_size(testing::PathOf(executable))) << lines[1];
  const std::string& line2 = lines[2];
  ASSERT_EQ(line2.rfind(message, 0), 0u) << line2;
  const std::string rest = line2.substr(message.size());
  if (reason == Reason::kNone) {
    EXPECT_EQ(rest, ".") << line2;
  } else {
    // The system's text without its own final blanks and full stops, then
    // the report's period.
    ASSERT_GE(rest.size(), 2u) << "no reason given: " << line2;
    EXPECT_EQ(rest.back(), '.') << line2;
    const unsigned char last = static_cast<unsigned char>(rest[rest.size() - 2]);
    EXPECT_TRUE(last > 0x20 && last != '.') << line2;
  }
}

/// The program copied into a fresh directory, run there on files there.
class RewriteRun : public ::testing::Test {
 protected:
  RewriteRun() { std::filesystem::copy_file(testing::PathOf(ProgramUnderTest()), testing::PathOf(executable_)); }

  void WriteSettings(std::string_view text) { testing::WriteFile(dir_.File(SettingsName()), text); }
  void UseTapOutput() { WriteSettings("[common]\r\ntest=1\r\n"); }

  /// Runs the program with `arguments` in the fresh directory.
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

  struct SettingsCase {
    const char* name;
    std::optional<std::string> content;  // of the settings file; nullopt: there is none
    bool tap;                            // the result goes to the .tap file
  };

  /// Runs on part.nc beside each settings file and expects the result in
  /// part.tap or in part.nc, as the case says.
  void ExpectOutputsFor(const std::vector<SettingsCase>& cases) {
    const std::string part = dir_.File("part.nc");
    const std::string tap = dir_.File("part.tap");
    for (const SettingsCase& c : cases) {
      SCOPED_TRACE(c.name);
      std::filesystem::remove(testing::PathOf(dir_.File(SettingsName())));
      if (c.content) WriteSettings(*c.content);
      testing::WriteFile(part, kProgram);
      RunSilently(part);
      EXPECT_EQ(std::filesystem::exists(testing::PathOf(tap)), c.tap);
      EXPECT_EQ(testing::ReadFile(part), c.tap ? kProgram : kRewritten);
      std::filesystem::remove(testing::PathOf(tap));
    }
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

/// What a save left in `directory` besides the files that belong there
/// (the program files part.nc and part.tap unless told otherwise): temp
/// files, which no run that ends by itself leaves behind.
inline std::vector<std::string> Leftovers(const std::filesystem::path& directory,
                                          const std::vector<std::string>& belonging = {
                                              "part.nc", "part.tap"}) {
  std::vector<std::string> names;
  for (const std::string& name : testing::DirectoryEntries(directory)) {
    if (std::find(belonging.begin(), belonging.end(), name) == belonging.end()) {
      names.push_back(name);
    }
  }
  return names;
}

/// The program copied into a fresh directory that others may read, and a
/// directory jobs/ beside it for the program files.
class SaveFaults : public ::testing::Test {
 protected:
  SaveFaults() {
    namespace fs = std::filesystem;
    fs::copy_file(testing::PathOf(ProgramUnderTest()), testing::PathOf(executable_));
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::create_directory(jobs_);
  }

  void UseTapOutput() { testing::WriteFile(dir_.File(SettingsName()), "[common]\ntest=1\n"); }

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
  const std::string part_ = testing::TextOf(jobs_ / "part.nc");
  const std::string tap_ = testing::TextOf(jobs_ / "part.tap");
};

}  // namespace ncrewrite::e2e
