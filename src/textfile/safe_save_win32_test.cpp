// The save must never lose the user's file on Windows either: an output
// that cannot be opened, one that another program holds, and a replace
// that another program is briefly in the way of.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "failure/failure.h"
#include "failure/windows_path.h"
#include "testing/failure_of.h"
#include "testing/temp_dir.h"
#include "textfile/file_io.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

using testing::DirectoryEntries;
using testing::FailureOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void Save(const std::string& path) {
  LineList list = LineList::FromLines(SystemCodePage(), {u"NEW"});
  SaveTextFile(list, path);
}

/// Opens `path` as another program would, with `access` and `share`.
FileHandle OpenAsAnotherProgram(const std::string& path, DWORD access, DWORD share) {
  const HANDLE handle = ::CreateFileW(WindowsPath(path).c_str(), access, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path << ": " << ::GetLastError();
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::string CreateMessage(const std::string& path, DWORD error) {
  return "Datei \"" + path + "\" kann nicht erstellt werden. " +
         SystemErrorText(static_cast<int>(error));
}

class SafeSave : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string out_ = dir_.File("part.nc");
};

TEST_F(SafeSave, OutputThatCannotBeOpenedFailsWithItsOwnPathAndStaysAsItWas) {
  ASSERT_TRUE(::CreateDirectoryW(WindowsPath(dir_.File("folder.nc")).c_str(), nullptr));
  WriteFile(dir_.File("held.nc"), "HELD\n");
  // Another program holds the file and lets nobody else open it.
  const FileHandle held =
      OpenAsAnotherProgram(dir_.File("held.nc"), GENERIC_READ | GENERIC_WRITE, 0);
  struct Case {
    std::string path;
    DWORD error;
  };
  const Case cases[] = {
      {dir_.File("folder.nc"), ERROR_ACCESS_DENIED},
      {(dir_.path() / "missing" / "part.nc").string(), ERROR_PATH_NOT_FOUND},
      {dir_.File("held.nc"), ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    const Failure failure = FailureOf([&] { Save(c.path); });
    EXPECT_EQ(failure.kind(), "EFCreateError") << c.path;
    EXPECT_EQ(failure.message(), CreateMessage(c.path, c.error));
  }
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"folder.nc", "held.nc"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "folder.nc"));
}

TEST_F(SafeSave, HeldOutputKeepsItsContent) {
  WriteFile(out_, "OLD\n");
  {
    const FileHandle held = OpenAsAnotherProgram(out_, GENERIC_READ, 0);
    EXPECT_EQ(FailureOf([&] { Save(out_); }).kind(), "EFCreateError");
  }
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, ReadOnlyOutputFailsAndStaysAsItWas) {
  WriteFile(out_, "OLD\n");
  ASSERT_TRUE(::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_READONLY));
  const HANDLE probe = ::CreateFileW(WindowsPath(out_).c_str(), GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    ::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this system lets a read-only file be written (Wine run as root)";
  }
  const Failure failure = FailureOf([&] { Save(out_); });
  ::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(failure.kind(), "EFCreateError");
  EXPECT_EQ(failure.message(), CreateMessage(out_, ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, FileThatWasLoadedIsReplacedByItsRewrite) {
  WriteFile(out_, "OLD CONTENT\n");
  LineList list;
  LoadTextFile(list, out_);
  SaveTextFile(list, out_);
  EXPECT_EQ(ReadFile(out_), "OLD CONTENT\r\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

FILETIME CreationTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(::GetFileAttributesExW(WindowsPath(path).c_str(), GetFileExInfoStandard, &data));
  return data.ftCreationTime;
}

/// Sets the creation time of `path`; false where the file system keeps none
/// of its own (Wine on most Linux file systems).
bool SetCreationTime(const std::string& path, const FILETIME& time) {
  const FileHandle file =
      OpenAsAnotherProgram(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!::SetFileTime(reinterpret_cast<HANDLE>(file.get()), &time, nullptr, nullptr)) return false;
  const FILETIME kept = CreationTimeOf(path);
  return kept.dwLowDateTime == time.dwLowDateTime && kept.dwHighDateTime == time.dwHighDateTime;
}

TEST_F(SafeSave, ReplacedFileKeepsItsAttributesAndCreationTime) {
  WriteFile(out_, "OLD\n");
  ASSERT_TRUE(::SetFileAttributesW(WindowsPath(out_).c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  const FILETIME year_2001 = {0xD53E8000, 0x01C07385};
  const bool keeps_creation_time = SetCreationTime(out_, year_2001);
  Save(out_);
  const DWORD attributes = ::GetFileAttributesW(WindowsPath(out_).c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << attributes;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_ARCHIVE, 0u) << attributes;
  EXPECT_EQ(ReadFile(out_), "NEW\r\n");
  if (keeps_creation_time) {
    EXPECT_EQ(CreationTimeOf(out_).dwHighDateTime, year_2001.dwHighDateTime);
    EXPECT_EQ(CreationTimeOf(out_).dwLowDateTime, year_2001.dwLowDateTime);
  }
  // A file made by the save has the attributes of any new file.
  const std::string fresh = dir_.File("fresh.nc");
  Save(fresh);
  EXPECT_EQ(::GetFileAttributesW(WindowsPath(fresh).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

/// A temporary file beside `target` that holds `content`, written and
/// closed as a save leaves it before the replace.
std::string SealedTempFile(const std::string& target, std::string_view content) {
  std::string temp_path;
  FileHandle temp;
  EXPECT_EQ(CreateTempFileBeside(target, FileHandle(), temp_path, temp), 0);
  WriteToFile(temp, content.data(), content.size());
  EXPECT_EQ(FlushToDisk(temp), 0);
  EXPECT_EQ(temp.Close(), 0);
  return temp_path;
}

TEST_F(SafeSave, ReplaceWaitsForAProgramThatLetsGoSoon) {
  WriteFile(out_, "OLD\n");
  const std::string temp = SealedTempFile(out_, "NEW\r\n");
  // A scanner that reads the output and does not share deleting it.
  FileHandle scanner =
      OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  FileHandle existing =
      OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  std::thread release([&scanner] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    scanner.Close();
  });
  const int error = MoveIntoPlace(temp, out_, existing);
  release.join();
  EXPECT_EQ(error, 0);
  EXPECT_FALSE(existing.is_open());
  EXPECT_EQ(ReadFile(out_), "NEW\r\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, ReplaceGivesUpOnAProgramThatHoldsOnAndChangesNothing) {
  WriteFile(out_, "OLD\n");
  const std::string temp = SealedTempFile(out_, "NEW\r\n");
  const FileHandle holder =
      OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  FileHandle existing =
      OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(MoveIntoPlace(temp, out_, existing), 0);
  // Tried again for about a second, not for ever.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(ReadFile(temp), "NEW\r\n");
  RemoveFile(temp);
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST(WriteToFile, RequestThatFailsAgainIsAWriteFailure) {
  TempDir dir;
  WriteFile(dir.File("part.nc"), "OLD\n");
  // Every request on a file opened only for reading fails.
  const FileHandle read_only =
      OpenAsAnotherProgram(dir.File("part.nc"), GENERIC_READ, FILE_SHARE_READ);
  const Failure failure = FailureOf([&] { WriteToFile(read_only, "NEW\r\n", 5); });
  EXPECT_EQ(failure.kind(), "EWriteError");
  EXPECT_EQ(failure.message(), "Stream-Schreibfehler");
}

TEST(ReadSmallFile, GivesTheWholeFileAndNothingForWhatIsNoFile) {
  TempDir dir;
  const std::string content = "[common]\r\ntest=1\r\n" + std::string(100000, 'x');
  WriteFile(dir.File("ncrewrite.ini"), content);
  EXPECT_EQ(ReadSmallFile(dir.File("ncrewrite.ini")), content);
  EXPECT_EQ(ReadSmallFile(dir.File("missing.ini")), std::nullopt);
  EXPECT_EQ(ReadSmallFile(dir.path().string()), std::nullopt);
}

}  // namespace
}  // namespace ncrewrite
