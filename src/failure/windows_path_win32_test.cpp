#include "failure/windows_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace ncrewrite {
namespace {

std::wstring CurrentDirectory() {
  std::wstring directory(::GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  return directory;
}

/// `directory` joined with `name` by one backslash.
std::wstring Join(std::wstring directory, const std::wstring& name) {
  if (!directory.ends_with(L'\\')) directory += L'\\';
  return directory + name;
}

/// A path of at least `length` characters below C:\ made of one long name.
std::wstring LongNameBelowRoot(std::size_t length) {
  return L"C:\\" + std::wstring(length, L'n') + L"\\part.nc";
}

TEST(FullPathName, ResolvesRelativePathsAndDotsAgainstTheCurrentDirectory) {
  const std::wstring here = CurrentDirectory();
  EXPECT_EQ(FullPathName(L"part.nc"), Join(here, L"part.nc"));
  EXPECT_EQ(FullPathName(L"sub\\..\\.\\part.nc"), Join(here, L"part.nc"));
  EXPECT_EQ(FullPathName(L"C:/jobs/./old/../part.nc"), L"C:\\jobs\\part.nc");
  EXPECT_EQ(FullPathName(L""), L"");
}

TEST(FullPathName, HasRoomForPathsOfAnyLength) {
  // Longer than the first buffer, which holds MAX_PATH characters.
  for (const std::size_t length : {std::size_t{MAX_PATH} - 5, std::size_t{MAX_PATH} + 1, std::size_t{1000}, std::size_t{30000}}) {
    const std::wstring path = LongNameBelowRoot(length);
    EXPECT_EQ(FullPathName(path), path) << length;
    EXPECT_EQ(FullPathName(L"C:\\x\\..\\" + path.substr(3)), path) << length;
  }
}

TEST(WindowsPath, ShortPathsStayAsGiven) {
  EXPECT_EQ(WindowsPath("part.nc"), L"part.nc");
  EXPECT_EQ(WindowsPath("C:/jobs/../part.nc"), L"C:/jobs/../part.nc");
  EXPECT_EQ(WindowsPath(R"(\\server\share\part.nc)"), LR"(\\server\share\part.nc)");
  EXPECT_EQ(WindowsPath("NUL"), L"NUL");
  // WTF-8 of a lone surrogate reaches the system as that code unit.
  EXPECT_EQ(WindowsPath("C:\\\xED\xA0\x80.nc"), std::wstring(L"C:\\") + wchar_t{0xD800} + L".nc");
}

TEST(WindowsPath, LongPathsBecomeTheirExtendedFullForm) {
  const std::wstring tail(300, L'n');
  const std::string narrow_tail(300, 'n');
  EXPECT_EQ(WindowsPath("C:/jobs/./" + narrow_tail + "/../" + narrow_tail),
            LR"(\\?\C:\jobs\)" + tail);
  EXPECT_EQ(WindowsPath(R"(\\server\share\)" + narrow_tail),
            LR"(\\?\UNC\server\share\)" + tail);
  // Relative: the full form, made against the current directory.
  EXPECT_EQ(WindowsPath(narrow_tail), L"\\\\?\\" + Join(CurrentDirectory(), tail));
  // Already extended or a device path: as given.
  EXPECT_EQ(WindowsPath(R"(\\?\C:\)" + narrow_tail), LR"(\\?\C:\)" + tail);
  EXPECT_EQ(WindowsPath(R"(\\.\C:\)" + narrow_tail), LR"(\\.\C:\)" + tail);
}

TEST(WindowsPath, PathsNearTheLimitAreExtendedWhileANameStillFitsBeside) {
  // Windows keeps 12 characters of MAX_PATH for a name in a directory.
  for (std::size_t length = MAX_PATH - 16; length < MAX_PATH + 4; ++length) {
    const std::wstring wide = L"C:\\" + std::wstring(length - 3, L'n');
    const std::string narrow = "C:\\" + std::string(length - 3, 'n');
    const bool extended = WindowsPath(narrow).starts_with(LR"(\\?\)");
    EXPECT_EQ(extended, length >= MAX_PATH - 12) << length;
    EXPECT_EQ(WindowsPath(narrow), extended ? LR"(\\?\)" + wide : wide) << length;
  }
}

}  // namespace
}  // namespace ncrewrite
