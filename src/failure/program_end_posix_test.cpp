// How the real program ends, seen from outside, where only POSIX tools can
// look: the code offset of its failure report (addr2line), its report when
// memory runs out (an address-space limit) and its leak report (gdb).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "failure/program_end_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::program_end {
namespace {

using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

/// Runs `program` on `input` under gdb. Empty when the debugger cannot
/// trace processes here.
std::optional<ProgramRun> RunUnderDebugger(const std::string& program, const std::string& input) {
  testing::ProgramOptions options;
  // The sanitizers' leak checker cannot work under a tracer; it is not
  // what these runs look at.
  options.environment = {"ASAN_OPTIONS=detect_leaks=0"};
  ProgramRun run = RunProgram("/usr/bin/gdb", {"-nx", "-batch", "-ex", "run", "--args", program, input},
                              options);
  if (run.out.find("ptrace: Operation not permitted") != std::string::npos ||
      run.err.find("ptrace: Operation not permitted") != std::string::npos) {
    return std::nullopt;
  }
  return run;
}

// The offset is where the failure was raised, in the program's own image.
TEST_F(ProgramEndTest, FailureReportOffsetNamesTheFunctionThatRaisedIt) {
  const auto [program, run] = RunIntoCreateFailure();
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 3u) << run.err;
  std::smatch offset;
  ASSERT_TRUE(std::regex_match(lines[1], offset, CreateFailureLine1())) << lines[1];
  const ProgramRun where = RunProgram(
      "/usr/bin/addr2line", {"-f", "-i", "-C", "-e", program, "0x" + offset[1].str()});
  EXPECT_NE(where.out.find("RaiseCreateFailure"), std::string::npos) << where.out;
}

/// Runs `program` on `input` with 256 MiB of memory at most.
ProgramRun RunWithLittleMemory(const std::string& program, const std::string& input) {
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer reserves far more address space than any ulimit -v lets
  // through, but it can refuse large blocks itself.
  testing::ProgramOptions options;
  options.environment = {"ASAN_OPTIONS=max_allocation_size_mb=256:allocator_may_return_null=1"};
  ProgramRun run = RunProgram(program, {input}, options);
  // It notes the refused block on standard error ("==pid==WARNING: ...").
  std::string err;
  for (const std::string& line : Lines(run.err)) {
    if (line.rfind("==", 0) != 0) err += line + "\n";
  }
  run.err = err;
  return run;
#else
  return RunProgram("/bin/sh", {"-c", "ulimit -v 262144 && exec \"$0\" \"$1\"", program, input});
#endif
}

TEST_F(ProgramEndTest, MemoryRunningOutReportsEOutOfMemoryAndLeavesTheInputAlone) {
  // A sparse file of 1 GiB, which costs no disk space. With a second name it
  // is written in place, so its content must be held in memory before it is
  // emptied: more than the limit below allows, whether it is read into
  // memory or viewed and copied at the save.
  const std::string input = dir_.File("large.nc");
  WriteFile(input, kProgramText);
  std::filesystem::resize_file(input, std::uint64_t{1} << 30);
  std::filesystem::create_hard_link(input, dir_.File("second-name.nc"));
  struct stat before {};
  ASSERT_EQ(::stat(input.c_str(), &before), 0);

  const ProgramRun run = RunWithLittleMemory(NCREWRITE_EXECUTABLE, input);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(std::regex_match(
      run.err, std::regex("Anwendungsfehler\nException EOutOfMemory in Modul ncrewrite bei "
                          "[0-9A-F]{16}\\.\nZu wenig Arbeitsspeicher\\.\n")))
      << run.err;

  struct stat after {};
  ASSERT_EQ(::stat(input.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  std::string start(kProgramText.size(), '\0');
  std::ifstream(input, std::ios::binary).read(start.data(), static_cast<std::streamsize>(start.size()));
  EXPECT_EQ(start, kProgramText);
}

TEST_F(ProgramEndTest, LeakReportOnlyUnderADebuggerAndOnlyForBlocksLeftBehind) {
  const std::string input = dir_.File("part.nc");

  // The program itself leaves nothing behind, on success and on failure.
  WriteFile(input, kProgramText);
  std::optional<ProgramRun> run = RunUnderDebugger(NCREWRITE_EXECUTABLE, input);
  if (!run) GTEST_SKIP() << "gdb cannot trace processes here";
  EXPECT_NE(run->out.find("exited normally"), std::string::npos) << run->out << run->err;
  EXPECT_EQ(run->err.find("Unexpected Memory Leak"), std::string::npos) << run->err;
  EXPECT_EQ(ReadFile(input), kRewrittenText);

  const std::string program = InstallWithTapOutput(NCREWRITE_EXECUTABLE);
  std::filesystem::create_directory(dir_.File("part.tap"));
  run = RunUnderDebugger(program, input);
  EXPECT_NE(run->out.find("exited with code 01"), std::string::npos) << run->out << run->err;
  EXPECT_NE(run->err.find("Anwendungsfehler\nException EFCreateError"), std::string::npos) << run->err;
  EXPECT_EQ(run->err.find("Unexpected Memory Leak"), std::string::npos) << run->err;

  // A build that leaks on purpose: 24 and 20 bytes by new[], 16 by new, and
  // 5000 by new[].
  WriteFile(input, kProgramText);
  run = RunUnderDebugger(NCREWRITE_LEAK_PROBE, input);
  EXPECT_NE(run->out.find("exited normally"), std::string::npos) << run->out << run->err;
  EXPECT_NE(run->err.find("Unexpected Memory Leak\n"
                          "An unexpected memory leak has occurred. "
                          "The unexpected small block leaks are:\n"
                          "\n"
                          "0 - 16 bytes: object x 1\n"
                          "17 - 32 bytes: array x 2\n"
                          "\n"
                          "The sizes of unexpected leaked medium and large blocks are: 5000\n"),
            std::string::npos)
      << run->err;
  EXPECT_EQ(ReadFile(input), kRewrittenText);

  // Without a debugger the switch is off: no report, leaks or not.
  WriteFile(input, kProgramText);
  const ProgramRun plain = RunProgram(NCREWRITE_LEAK_PROBE, {input});
  EXPECT_EQ(plain.exit_status, 0);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(ReadFile(input), kRewrittenText);
}

}  // namespace
}  // namespace ncrewrite::program_end
