#pragma once

// How the real program ends, seen from outside: the fixture of the tests
// that every platform runs and of those that only POSIX systems run.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "testing/environment.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::program_end {

inline constexpr std::string_view kProgramText = "%\r\nM104\r\nM80\r\nM81\r\nG0 X1\r\n";
inline constexpr std::string_view kRewrittenText = "%\r\nM104 M180\r\nG0 X1\r\n";

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

/// Line 1 of the failure report for EFCreateError in the program; the code
/// offset is the regular expression's first group.
inline const std::regex& CreateFailureLine1() {
  static const std::regex line1 = [] {
    // The program's file name, "ncrewrite.exe" on Windows, its dots taken
    // as dots.
    std::string module;
    for (const char c : std::filesystem::path(NCREWRITE_EXECUTABLE).filename().string()) {
      if (c == '.') module += '\\';
      module += c;
    }
    return std::regex("Exception EFCreateError in Modul " + module + " bei ([0-9A-F]{16})\\.");
  }();
  return line1;
}

class ProgramEndTest : public ::testing::Test {
 protected:
  // With a display, a box would wait for a user; these tests want standard
  // error only.
  ProgramEndTest() {
    environment_.Remove("DISPLAY");
    environment_.Remove("WAYLAND_DISPLAY");
  }

  /// A copy of `program` in the temporary directory with a settings file
  /// beside it that sends the result to the ".tap" file.
  std::string InstallWithTapOutput(const std::string& program) {
    const std::string copy = dir_.File(std::filesystem::path(program).filename().string());
    std::filesystem::copy_file(program, copy);
    testing::WriteFile(dir_.File(std::filesystem::path(program).stem().string() + ".ini"),
                       "[common]\r\ntest=1\r\n");
    return copy;
  }

  struct FailedRun {
    std::string program;  // the copy that ran
    testing::ProgramRun run;
  };

  /// A run of a copy of the program on part.nc that fails because the
  /// output path, part.tap, is a directory.
  FailedRun RunIntoCreateFailure() {
    const std::string program = InstallWithTapOutput(NCREWRITE_EXECUTABLE);
    testing::WriteFile(dir_.File("part.nc"), kProgramText);
    std::filesystem::create_directory(dir_.File("part.tap"));
    return {program, testing::RunProgram(program, {dir_.File("part.nc")})};
  }

  testing::EnvironmentOverride environment_;
  testing::TempDir dir_;
};

}  // namespace ncrewrite::program_end
