// Loading and saving with what only Windows has: its messages, its paths
// and its share modes.

#include "textfile/text_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "driver/rewrite_rule.h"
#include "failure/failure.h"
#include "failure/windows_path.h"
#include "testing/failure_of.h"
#include "testing/temp_dir.h"
#include "textfile/file_io.h"

namespace ncrewrite {
namespace {

using testing::FailureOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

/// The system's text for `error` as FormatMessageW gives it, untrimmed.
std::string RawSystemText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  for (DWORD k = 0; k < length; ++k) text += static_cast<char>(buffer[k]);  // ASCII here
  ::LocalFree(buffer);
  return text;
}

TEST(SystemErrorText, IsTheSystemsTextWithoutTrailingBlanksAndStops) {
  const DWORD errors[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                          ERROR_SHARING_VIOLATION};
  for (const DWORD error : errors) {
    const std::string raw = RawSystemText(error);
    const std::string text = SystemErrorText(static_cast<int>(error));
    ASSERT_FALSE(text.empty()) << error;
    EXPECT_TRUE(raw.starts_with(text)) << raw;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_GT(text.back(), ' ') << text;
    EXPECT_EQ(raw.find_last_not_of(" .\r\n"), text.size() - 1) << raw;
  }
}

TEST(SystemErrorText, IsEmptyForACodeWithoutText) {
  EXPECT_EQ(RawSystemText(0x2000ABCD), "");
  EXPECT_EQ(SystemErrorText(0x2000ABCD), "");
}

std::string CurrentDirectory() {
  std::wstring directory(::GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  std::string narrow;
  for (const wchar_t unit : directory) narrow += static_cast<char>(unit);  // ASCII here
  return narrow;
}

TEST(FullPath, IsAbsoluteWithDotsResolvedAndBackslashes) {
  std::string here = CurrentDirectory();
  if (!here.ends_with('\\')) here += '\\';
  EXPECT_EQ(FullPath("part.nc"), here + "part.nc");
  EXPECT_EQ(FullPath("jobs/../part.nc"), here + "part.nc");
  EXPECT_EQ(FullPath("C:/jobs/./old/../part.nc"), "C:\\jobs\\part.nc");
  const std::string long_path = "C:\\" + std::string(400, 'n') + "\\part.nc";
  EXPECT_EQ(FullPath(long_path), long_path);
  // A name with a lone surrogate comes back as it went in.
  EXPECT_EQ(FullPath("C:\\\xED\xA0\x80.nc"), "C:\\\xED\xA0\x80.nc");
}

/// A directory below `dir` whose path is longer than MAX_PATH, made with
/// the extended form; removed with what is in it when the object goes.
class LongDirectory {
 public:
  explicit LongDirectory(const TempDir& dir) {
    path_ = dir.path().string();
    while (path_.size() <= MAX_PATH + 20) {
      path_ += "\\" + std::string(60, static_cast<char>('a' + levels_.size()));
      levels_.push_back(path_);
      EXPECT_TRUE(::CreateDirectoryW(WindowsPath(path_).c_str(), nullptr)) << ::GetLastError();
    }
  }
  ~LongDirectory() {
    for (const std::string& file : files_) ::DeleteFileW(WindowsPath(file).c_str());
    for (auto level = levels_.rbegin(); level != levels_.rend(); ++level) {
      ::RemoveDirectoryW(WindowsPath(*level).c_str());
    }
  }
  std::string File(const std::string& name) {
    files_.push_back(path_ + "\\" + name);
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> levels_;
  std::vector<std::string> files_;
};

TEST(TextFileLongPath, LoadsAndSavesBeyondMaxPath) {
  TempDir dir;
  LongDirectory directory(dir);
  const std::string part = directory.File("part.nc");
  ASSERT_GT(part.size(), std::size_t{MAX_PATH});
  LineList written = LineList::FromLines(SystemCodePage(), {u"A", u"M104", u"M80"});
  SaveTextFile(written, part);  // a new file
  LineList list;
  LoadTextFile(list, part);
  ApplyRewriteRule(list);
  SaveTextFile(list, part);  // over the existing one
  const FileBytes saved = ReadWholeFile(part);
  EXPECT_EQ(std::string_view(saved.data(), static_cast<std::size_t>(saved.size())),
            "A\r\nM104 M180\r\n");
  // The message names the path as users know it, without the prefix.
  const std::string missing = directory.File("missing.nc");
  const Failure failure = FailureOf([&] { LoadTextFile(list, missing); });
  EXPECT_EQ(failure.kind(), "EFOpenError");
  EXPECT_EQ(failure.message(), "Datei " + missing + " kann nicht geöffnet werden. " +
                                   SystemErrorText(ERROR_FILE_NOT_FOUND));
}

/// Opens `path` as another program would, with `access` and `share`.
FileHandle OpenAsAnotherProgram(const std::string& path, DWORD access, DWORD share) {
  const HANDLE handle = ::CreateFileW(WindowsPath(path).c_str(), access, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << ::GetLastError();
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

TEST(TextFileShareModes, LoadLetsOthersReadButNotWrite) {
  TempDir dir;
  const std::string part = dir.File("part.nc");
  WriteFile(part, "M104\n");
  {
    const FileHandle reader = OpenAsAnotherProgram(part, GENERIC_READ, FILE_SHARE_READ);
    LineList list;
    LoadTextFile(list, part);
    EXPECT_EQ(list.DecodedLines(), std::vector<std::u16string>{u"M104"});
  }
  const FileHandle writer =
      OpenAsAnotherProgram(part, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  LineList list = LineList::FromLines(Utf8Encoding(), {u"kept"});
  const Failure failure = FailureOf([&] { LoadTextFile(list, part); });
  EXPECT_EQ(failure.kind(), "EFOpenError");
  EXPECT_EQ(failure.message(), "Datei " + part + " kann nicht geöffnet werden. " +
                                   SystemErrorText(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(list.DecodedLines(), std::vector<std::u16string>{u"kept"});
}

TEST(TextFileShareModes, DirectoryCannotBeLoaded) {
  TempDir dir;
  LineList list;
  const Failure failure = FailureOf([&] { LoadTextFile(list, dir.path().string()); });
  EXPECT_EQ(failure.kind(), "EFOpenError");
}

}  // namespace
}  // namespace ncrewrite
