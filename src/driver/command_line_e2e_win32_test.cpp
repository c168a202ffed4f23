// End to end on Windows: the program started with exact command lines, as
// a CAM system or a shortcut writes them. Windows hands a program its
// command line as one string, which the program splits by its own rule, so
// these lines are made here character for character (Wine's own quoting of
// "wine program arguments" would change them).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/run_program.h"
#include "testing/run_program_win32.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::PathOf;
using testing::ReadFile;
using testing::WriteFile;

/// Program files in the directory, each one a candidate for argument 1.
const char* const kCandidates[] = {
    "part.nc",
    "my",
    "my jobs\\part.nc",
    "jobs\\part.nc",
    // A program file that bears the executable's name: argument 1 of an
    // unquoted program path with a blank in it.
    "tools\\ncrewrite.exe",
    "\xE9\x83\xA8\xE5\x93\x81 \xC3\xA4.nc",  // 部品 ä.nc: outside every ANSI code page
};

struct CommandLineCase {
  const char* name;
  std::string line;       // "{exe}" and "{dir}" stand for the program's and the directory's path
  const char* rewritten;  // the candidate that is rewritten; nullptr: none
};

std::string Expand(std::string line, const std::string& exe, const std::string& dir) {
  for (std::size_t at; (at = line.find("{exe}")) != std::string::npos;) line.replace(at, 5, exe);
  for (std::size_t at; (at = line.find("{dir}")) != std::string::npos;) line.replace(at, 5, dir);
  return line;
}

TEST_F(RewriteRun, ExactCommandLinesAreSplitByTheProgramsOwnRule) {
  for (const char* directory : {"my jobs", "jobs", "tools"}) {
    fs::create_directory(PathOf(dir_.File(directory)));
  }
  const CommandLineCase cases[] = {
      {"a quoted argument with a blank", "\"{exe}\" \"{dir}\\my jobs\\part.nc\"",
       "my jobs\\part.nc"},
      {"the same without quotes ends at the blank", "\"{exe}\" {dir}\\my jobs\\part.nc", "my"},
      {"an empty pair of quotes is skipped", "\"{exe}\" \"\" {dir}\\jobs\\part.nc",
       "jobs\\part.nc"},
      {"a quoted stretch inside an argument", "\"{exe}\" {dir}\\my\" \"jobs\\part.nc",
       "my jobs\\part.nc"},
      {"quoted and unquoted pieces join", "\"{exe}\" {dir}\\\"my jobs\"\\part.nc",
       "my jobs\\part.nc"},
      {"no closing quote", "\"{exe}\" \"{dir}\\my jobs\\part.nc", "my jobs\\part.nc"},
      {"a backslash before a quote escapes nothing",
       "\"{exe}\" \"{dir}\\jobs\\\" {dir}\\part.nc", nullptr},
      {"a tab separates", "\"{exe}\"\t{dir}\\part.nc", "part.nc"},
      {"control characters separate", "\"{exe}\"\x01\x1F{dir}\\part.nc", "part.nc"},
      {"blanks and empty pairs in any mix", "\"{exe}\"  \"\"\"\"  \"\" \t{dir}\\part.nc",
       "part.nc"},
      {"only argument 1 is read", "\"{exe}\" {dir}\\part.nc {dir}\\jobs\\part.nc", "part.nc"},
      {"an unquoted program path", "{exe} {dir}\\part.nc", "part.nc"},
      {"an unquoted program path with a blank",
       "{dir}\\my tools\\ncrewrite.exe {dir}\\part.nc", "tools\\ncrewrite.exe"},
      {"an empty pair where the program's path stands", "\"\" {dir}\\part.nc", nullptr},
      {"a quote right after the program's path", "\"{exe}\"\"{dir}\\part.nc\"", nullptr},
      {"a name outside the ANSI code page",
       "\"{exe}\" \"{dir}\\\xE9\x83\xA8\xE5\x93\x81 \xC3\xA4.nc\"",
       "\xE9\x83\xA8\xE5\x93\x81 \xC3\xA4.nc"},
      {"no argument", "\"{exe}\"", nullptr},
      {"blanks only after the program", "\"{exe}\"   \t", nullptr},
      {"an empty argument", "\"{exe}\" \"\"", nullptr},
      {"empty arguments only", "\"{exe}\" \"\" \"\"", nullptr},
  };
  testing::ProgramOptions options;
  options.directory = dir_.path().string();
  for (const CommandLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* candidate : kCandidates) WriteFile(dir_.File(candidate), kProgram);
    const std::string line = Expand(c.line, executable_, dir_.path().string());
    const testing::ProgramRun run = testing::RunProgramWithCommandLine(executable_, line, options);
    EXPECT_EQ(run.exit_status, 0) << line << "\n" << run.err;
    EXPECT_EQ(run.out + run.err, "");
    for (const char* candidate : kCandidates) {
      const bool chosen = c.rewritten != nullptr && std::string(candidate) == c.rewritten;
      EXPECT_EQ(ReadFile(dir_.File(candidate)), chosen ? kRewritten : kProgram)
          << candidate << " after " << line;
    }
  }
}

}  // namespace
}  // namespace ncrewrite::e2e
