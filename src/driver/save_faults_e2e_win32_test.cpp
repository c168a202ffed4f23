// End to end under faults that only Windows brings about: the read-only
// attribute, and a path that Windows resolves to a file by its name alone.
// Each refusal leaves the input and the output as they were and no temp
// file behind.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "driver/e2e_test.h"
#include "failure/platform_text.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::PathOf;
using testing::ProgramRun;
using testing::ReadFile;
using testing::WriteFile;

std::wstring Wide(const std::string& path) {
  const std::u16string units = Utf16FromWtf8(path);
  return std::wstring(units.begin(), units.end());
}

void SetReadOnly(const std::string& path, bool read_only) {
  ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(),
                                   read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

/// Whether the system refuses to open a read-only file for writing. Wine
/// run by root opens it all the same (Windows never does): such a run
/// skips the read-only cases, and tools/wine/run-as-user.sh runs them
/// again as an ordinary user, setting NCREWRITE_EXPECT_READ_ONLY=honoured
/// so that there they cannot be skipped.
bool ReadOnlyIsHonoured(const std::string& probe) {
  WriteFile(probe, "probe");
  SetReadOnly(probe, true);
  const HANDLE file = ::CreateFileW(Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool refused = file == INVALID_HANDLE_VALUE;
  if (!refused) ::CloseHandle(file);
  SetReadOnly(probe, false);
  fs::remove(PathOf(probe));
  return refused;
}

struct ReadOnlyCase {
  const char* name;
  bool tap;
  bool input_read_only;
  bool tap_read_only;  // part.tap exists before the run
  const char* named;   // the file that the EFCreateError names; nullptr: the run succeeds
};

TEST_F(SaveFaults, ReadOnlyOutputIsRefusedAndKeepsItsAttribute) {
  const char* const expectation = std::getenv("NCREWRITE_EXPECT_READ_ONLY");
  if (!ReadOnlyIsHonoured(dir_.File("probe"))) {
    ASSERT_EQ(expectation, nullptr) << "a read-only file was opened for writing";
    GTEST_SKIP() << "this user may write read-only files (Wine run by root); "
                    "tools/wine/run-as-user.sh runs the case as another user";
  }
  const ReadOnlyCase cases[] = {
      {"read-only input overwritten", false, true, false, "part.nc"},
      {"read-only .tap file", true, false, true, "part.tap"},
      {"read-only input, .tap output", true, true, false, nullptr},
  };
  const std::string old_tap = "old .tap content\r\n";
  for (const ReadOnlyCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(PathOf(dir_.File(SettingsName())));
    if (c.tap) UseTapOutput();
    WriteFile(part_, kProgram);
    if (c.input_read_only) SetReadOnly(part_, true);
    if (c.tap_read_only) {
      WriteFile(tap_, old_tap);
      SetReadOnly(tap_, true);
    }

    const ProgramRun run = Run(part_);

    if (c.named == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(ReadFile(tap_), kRewritten);
    } else {
      const std::string named = testing::TextOf(jobs_ / c.named);
      ExpectFailureReport(run, executable_, "EFCreateError",
                          "Datei \"" + named + "\" kann nicht erstellt werden. ", Reason::kSystem);
      EXPECT_TRUE(IsReadOnly(named));
    }
    EXPECT_EQ(ReadFile(part_), kProgram);
    EXPECT_EQ(IsReadOnly(part_), c.input_read_only);
    if (c.tap_read_only) {
      EXPECT_EQ(ReadFile(tap_), old_tap);
    }
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
    for (const std::string& file : {part_, tap_}) {
      if (fs::exists(PathOf(file))) SetReadOnly(file, false);
      fs::remove(PathOf(file));
    }
  }
}

// Windows resolves "part\." to the file part by the name alone, so the
// input exists; its .tap path is "part\.tap", in a directory "part" that
// does not exist, since part is a file.
TEST_F(SaveFaults, TapFileInAMissingDirectoryIsRefused) {
  UseTapOutput();
  const std::string input = testing::TextOf(jobs_ / "part");
  WriteFile(input, kProgram);
  const ProgramRun run = Run(input + "\\.");
  ExpectFailureReport(run, executable_, "EFCreateError",
                      "Datei \"" + input + "\\.tap\" kann nicht erstellt werden. ",
                      Reason::kSystem);
  EXPECT_EQ(ReadFile(input), kProgram);
  EXPECT_EQ(testing::DirectoryEntries(jobs_), std::vector<std::string>{"part"});
}

}  // namespace
}  // namespace ncrewrite::e2e
