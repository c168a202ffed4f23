// Loading and saving with what only Windows has: its code pages, its
// messages, its paths and its share modes.

#include "textfile/text_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "driver/rewrite_rule.h"
#include "failure/failure.h"
#include "failure/platform_text.h"
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

/// Loads the file at `in` as a program in `code_page`, applies the rule
/// and saves the list to `out`.
void RewriteInCodePage(std::uint32_t code_page, const std::string& in, const std::string& out) {
  const auto encoding = MakeCodePageEncoding(code_page);
  LineList list;
  LoadTextBytes(list, ReadWholeFile(in), *encoding);
  EXPECT_EQ(list.remembered_encoding(), encoding.get());
  ApplyRewriteRule(list);
  SaveTextFile(list, out);
}

TEST(TextFileCodePage, ProgramWithoutAMarkKeepsItsBytesInEveryCodePageThatAllows) {
  // Japanese comments, with an "M" as a trail byte (0x83 0x4D); bytes that
  // the code page does not define; a lead byte before a lone CR, which a
  // conversion would swallow together with the line break and with it the
  // "M80" line; a lead byte at the very end.
  const std::string program =
      "(\x83\x65\x83\x58\x83\x67 \x83\x4D)\n"
      "M104\n"
      "(\x93\xFA\x96\x7B\x81\r"
      "M80\r\n"
      "M81\n"
      "G1 X1 (\x80\xA0\xFD\xFF)\n"
      "\x81";
  const std::string expected =
      "(\x83\x65\x83\x58\x83\x67 \x83\x4D)\r\n"
      "M104 M180\r\n"
      "(\x93\xFA\x96\x7B\x81\r\n"
      "G1 X1 (\x80\xA0\xFD\xFF)\r\n"
      "\x81\r\n";
  for (const std::uint32_t code_page : {932u, 936u, 949u, 950u, 65001u}) {
    TempDir dir;
    WriteFile(dir.File("in.nc"), program);
    RewriteInCodePage(code_page, dir.File("in.nc"), dir.File("out.nc"));
    EXPECT_EQ(ReadFile(dir.File("out.nc")), expected) << code_page;
    // The platform's conversion there and back would not have kept them.
    const auto encoding = MakeCodePageEncoding(code_page);
    EXPECT_NE(EncodeText(*encoding, DecodeText(*encoding, program)), program) << code_page;
  }
}

TEST(TextFileCodePage, CodePageWithoutThePropertyIsConvertedAsAWhole) {
  // EBCDIC: "A", "M104", "M80", "M81" with line feeds (0x25) come back as
  // "A", "M104 M180" with CR LF (0x0D 0x25); read as bytes they would be
  // one line that reads no code.
  TempDir dir;
  WriteFile(dir.File("in.nc"),
            "\xC1\x25"
            "\xD4\xF1\xF0\xF4\x25"
            "\xD4\xF8\xF0\x25"
            "\xD4\xF8\xF1");
  RewriteInCodePage(37, dir.File("in.nc"), dir.File("out.nc"));
  EXPECT_EQ(ReadFile(dir.File("out.nc")),
            "\xC1\x0D\x25"
            "\xD4\xF1\xF0\xF4\x40\xD4\xF1\xF8\xF0\x0D\x25");
}

TEST(TextFileCodePage, FreshListInACodePageThatIsConvertedSavesItsLines) {
  const auto ebcdic = MakeCodePageEncoding(37);
  LineList list = LineList::FromLines(*ebcdic, {u"A", u"M80"});
  EXPECT_EQ(&list.stored_encoding(), &Utf16LeEncoding());
  TempDir dir;
  SaveTextFile(list, dir.File("out.nc"));
  EXPECT_EQ(ReadFile(dir.File("out.nc")), "\xC1\x0D\x25\xD4\xF8\xF0\x0D\x25");
}

/// The system's text for `error` as FormatMessageW gives it, untrimmed.
std::u16string RawSystemText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text(buffer, buffer + length);
  ::LocalFree(buffer);
  return text;
}

TEST(SystemErrorText, IsTheSystemsTextWithoutTrailingBlanksAndStops) {
  const DWORD errors[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                          ERROR_SHARING_VIOLATION};
  for (const DWORD error : errors) {
    std::u16string expected = RawSystemText(error);
    const std::size_t raw_length = expected.size();
    while (!expected.empty() && (expected.back() <= u' ' || expected.back() == u'.')) {
      expected.pop_back();
    }
    ASSERT_FALSE(expected.empty()) << error;
    EXPECT_LT(expected.size(), raw_length) << error << ": nothing to trim";
    EXPECT_EQ(SystemErrorText(static_cast<int>(error)), Wtf8FromUtf16(expected)) << error;
  }
}

TEST(SystemErrorText, IsEmptyForACodeWithoutText) {
  EXPECT_EQ(RawSystemText(0x2000ABCD), u"");
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
