// End to end: the built executable, copied into a fresh directory together
// with its own settings file, run on real files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::ReadFile;
using testing::WriteFile;

TEST_F(RewriteRun, OverwritesTheInputWithoutSettings) {
  const std::string part = dir_.File("part.nc");
  WriteFile(part, kProgram);
  RunSilently(part);
  EXPECT_EQ(ReadFile(part), kRewritten);
}

TEST_F(RewriteRun, RelativePathIsTakenFromTheCurrentDirectory) {
  WriteFile(dir_.File("part.nc"), kProgram);
  RunSilently("part.nc");
  EXPECT_EQ(ReadFile(dir_.File("part.nc")), kRewritten);
}

TEST_F(RewriteRun, FileWithNothingToRewriteIsStillSaved) {
  const std::string part = dir_.File("part.nc");
  WriteFile(part, "\xEF\xBB\xBFG1 X1\nM80");
  RunSilently(part);
  EXPECT_EQ(ReadFile(part), "\xEF\xBB\xBFG1 X1\r\nM80\r\n");
}

TEST_F(RewriteRun, TapOutputLeavesTheInputAlone) {
  WriteSettings("[common]\r\ntest=1\r\n");
  struct Case {
    std::string input;
    std::string output;
  };
  fs::create_directory(dir_.File("jobs.old"));
  const Case cases[] = {
      {"part.nc", "part.tap"},
      {"jobs.old/part", "jobs.old/part.tap"},
      {"part.tar.nc", "part.tar.tap"},
      {"part.", "part.tap"},
      {".nc", ".tap"},
  };
  for (const Case& c : cases) {
    WriteFile(dir_.File(c.input), kProgram);
    RunSilently(dir_.File(c.input));
    EXPECT_EQ(ReadFile(dir_.File(c.input)), kProgram) << c.input;
    EXPECT_EQ(ReadFile(dir_.File(c.output)), kRewritten) << c.input;
    fs::remove(dir_.File(c.output));
  }
}

TEST_F(RewriteRun, TapInputIsItsOwnOutput) {
  WriteSettings("[common]\ntest=1\n");
  WriteFile(dir_.File("part.tap"), kProgram);
  RunSilently(dir_.File("part.tap"));
  EXPECT_EQ(ReadFile(dir_.File("part.tap")), kRewritten);
}

TEST_F(RewriteRun, SettingsValueSelectsTheOutput) {
  struct Case {
    std::string value;
    bool tap;
  };
  const Case cases[] = {
      {"1", true},     {"+1", true},        {"01", true},          {"  1  ", true},
      {"$1", true},    {"0X01", true},      {"-$FFFFFFFF", true},  {"\"1\"", true},
      {"\t1\t", true}, {"", false},         {"0", false},          {"2", false},
      {"-1", false},   {"1.0", false},      {"one", false},        {"1 2", false},
      {"- 1", false},  {"$-1", false},      {"2147483648", false}, {"$FFFFFFFF", false},
      {"$100000000", false},                {"1 ; note", false},
  };
  const std::string part = dir_.File("part.nc");
  const std::string tap = dir_.File("part.tap");
  for (const Case& c : cases) {
    WriteSettings("[common]\ntest=" + c.value + "\n");
    WriteFile(part, kProgram);
    RunSilently(part);
    EXPECT_EQ(fs::exists(tap), c.tap) << "test=" << c.value;
    EXPECT_EQ(ReadFile(part), c.tap ? kProgram : kRewritten) << "test=" << c.value;
    fs::remove(tap);
  }
}

TEST_F(RewriteRun, SettingsFileFollowsTheExecutableName) {
  const std::string other = dir_.File("other" + fs::path(executable_).extension().string());
  fs::rename(executable_, other);
  executable_ = other;
  WriteSettings("[common]\ntest=1\n");  // ncrewrite.ini: not this copy's file
  WriteFile(dir_.File("part.nc"), kProgram);
  RunSilently(dir_.File("part.nc"));
  EXPECT_FALSE(fs::exists(dir_.File("part.tap")));
  WriteFile(dir_.File("other.ini"), "[common]\ntest=1\n");
  WriteFile(dir_.File("part.nc"), kProgram);
  RunSilently(dir_.File("part.nc"));
  EXPECT_TRUE(fs::exists(dir_.File("part.tap")));
}

TEST_F(RewriteRun, NoUsableArgumentDoesNothing) {
  fs::create_directory(dir_.File("folder"));
  ExpectNothingDoneFor({{}, {""}, {dir_.File("missing.nc")}, {dir_.File("folder")}});
}

TEST_F(RewriteRun, FailuresLeaveTheInputUntouched) {
  const std::string part = dir_.File("part.nc");

  WriteFile(part, "\xEF\xBB\xBFM104\nM80\n\xFF");
  ExpectFailure(Run({part}), "EEncodingError", "Keine Zuordnung für Unicode-Zeichen");
  EXPECT_EQ(ReadFile(part), "\xEF\xBB\xBFM104\nM80\n\xFF");

  WriteFile(part, kProgram);
  WriteSettings("[common]\ntest=1\n");
  fs::create_directory(dir_.File("part.tap"));
  ExpectFailure(Run({part}), "EFCreateError",
                "Datei \"" + dir_.File("part.tap") + "\" kann nicht erstellt werden. ");
  EXPECT_EQ(ReadFile(part), kProgram);
}

// Sizes and offsets are 64-bit all the way: a program past 2 GiB is rewritten
// like any other, with nothing cut or wrapped. (Too slow for the sanitizer
// build, whose run repeats the same code.)
TEST_F(RewriteRun, ProgramLargerThanTwoGibibytes) {
#ifdef NCREWRITE_SANITIZED
  GTEST_SKIP() << "runs in the optimised build only";
#endif
  constexpr std::uint64_t kFill = (std::uint64_t{1} << 31) + 7;
  const std::string part = dir_.File("big.nc");
  {
    std::ofstream out(part, std::ios::binary);
    out << "A\r\nM104\r\n";
    out.seekp(static_cast<std::streamoff>(9 + kFill));  // a hole of NUL bytes: one long line
    out << "\r\nM80\r\nM81\r\nB\r\n";
  }
  RunSilently(part);
  std::ifstream in(part, std::ios::binary | std::ios::ate);
  const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
  EXPECT_EQ(size, 14 + kFill + 5);
  std::string head(14, '\0');
  std::string tail(6, 'x');
  in.seekg(0);
  in.read(head.data(), 14);
  in.seekg(static_cast<std::streamoff>(size - 6));
  in.read(tail.data(), 6);
  EXPECT_EQ(head, "A\r\nM104 M180\r\n");
  EXPECT_EQ(tail, std::string("\0\r\nB\r\n", 6));
}

}  // namespace
}  // namespace ncrewrite::e2e
