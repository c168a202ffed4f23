// What the run asks the system about its process and the input path.

#include "driver/process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "failure/code_module.h"
#include "failure/windows_path.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

/// An open handle, closed when it goes.
struct Held {
  HANDLE handle;
  ~Held() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

class IsExistingFileTest : public ::testing::Test {
 protected:
  /// `name` in the directory (WTF-8), made as a file with some bytes.
  std::string MakeFile(const std::string& name) {
    const std::string path = In(name);
    const HANDLE file = CreateFileW(WindowsPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
    DWORD written = 0;
    WriteFile(file, "M80\r\n", 5, &written, nullptr);
    CloseHandle(file);
    return path;
  }

  std::string MakeDirectory(const std::string& name) {
    const std::string path = In(name);
    EXPECT_TRUE(CreateDirectoryW(WindowsPath(path).c_str(), nullptr)) << GetLastError();
    return path;
  }

  /// A symbolic link at `name` to `target`; false when the system (or the
  /// rights of the test) makes none. Wine 8 says it made one and makes
  /// nothing; so the link must be there, as a reparse point.
  bool MakeLink(const std::string& name, const std::string& target, bool directory) {
    const DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    const std::wstring link = WindowsPath(In(name));
    if (!CreateSymbolicLinkW(link.c_str(), WindowsPath(target).c_str(), flags)) return false;
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }

  std::string In(const std::string& name) const { return dir_.path().string() + "\\" + name; }

  testing::TempDir dir_;
};

TEST_F(IsExistingFileTest, OnlyFilesThatAreNoDirectoryExist) {
  const std::string file = MakeFile("part.nc");
  const std::string directory = MakeDirectory("jobs.old");
  struct Case {
    std::string path;
    bool exists;
  };
  const Case cases[] = {
      {file, true},
      {MakeFile("Auftr\xC3\xA4ge \xE2\x82\xAC \xF0\x9F\x98\x80.nc"), true},
      {MakeFile("read-only.nc"), true},
      {MakeFile(std::string(240, 'l') + ".nc"), true},  // a full path beyond 260
      {In(std::string(240, 'l') + ".tap"), false},
      {In("missing.nc"), false},
      {In("missing\\part.nc"), false},
      {file + "\\", false},
      {directory, false},
      {directory + "\\", false},
      {In("*.nc"), false},
      {In("part.n?"), false},
      {"", false},
  };
  SetFileAttributesW(WindowsPath(In("read-only.nc")).c_str(), FILE_ATTRIBUTE_READONLY);
  for (const Case& c : cases) EXPECT_EQ(IsExistingFile(c.path), c.exists) << c.path;
  SetFileAttributesW(WindowsPath(In("read-only.nc")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(IsExistingFileTest, AFileThatAnotherHolderKeepsWithoutSharingExists) {
  const std::string file = MakeFile("held.nc");
  const Held held{CreateFileW(WindowsPath(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr)};
  ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsExistingFile(file));
}

TEST_F(IsExistingFileTest, LinksCountWhenTheirTargetIsAFileThatOpens) {
  const std::string file = MakeFile("part.nc");
  const std::string held_file = MakeFile("held.nc");
  const std::string directory = MakeDirectory("jobs");
  if (!MakeLink("to-file.nc", file, false)) GTEST_SKIP() << "the system makes no symbolic links";
  // A link whose target has gone.
  const std::string gone = MakeFile("gone.nc");
  ASSERT_TRUE(MakeLink("to-missing.nc", gone, false));
  ASSERT_TRUE(DeleteFileW(WindowsPath(gone).c_str()));
  ASSERT_TRUE(MakeLink("to-directory", directory, true));
  ASSERT_TRUE(MakeLink("to-held.nc", held_file, false));
  const Held held{CreateFileW(WindowsPath(held_file).c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, 0, nullptr)};
  ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);

  EXPECT_TRUE(IsExistingFile(In("to-file.nc")));
  EXPECT_FALSE(IsExistingFile(In("to-missing.nc")));
  EXPECT_FALSE(IsExistingFile(In("to-directory")));
  // The target is there, but held: the open fails with a sharing violation.
  EXPECT_TRUE(IsExistingFile(In("to-held.nc")));
}

TEST(GetExecutablePath, IsTheRunningProgramsFullPath) {
  const std::string path = GetExecutablePath();
  EXPECT_EQ(path, OwnExecutablePath());
  EXPECT_TRUE(path.ends_with("\\" NCREWRITE_TESTS_FILE_NAME)) << path;
  EXPECT_TRUE(IsExistingFile(path));
}

TEST(GetCommandArgument, ArgumentZeroNamesTheProgramAsItWasStarted) {
  // Started by the test driver with the program's path, unquoted or quoted.
  EXPECT_TRUE(GetCommandArgument(0).ends_with(NCREWRITE_TESTS_FILE_NAME)) << GetCommandArgument(0);
  EXPECT_EQ(GetCommandArgument(-1), "");
  EXPECT_EQ(GetCommandArgument(100000), "");
}

}  // namespace
}  // namespace ncrewrite
