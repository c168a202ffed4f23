// The system's private-profile reader behind ReadProfileString, on real
// files.

#include "driver/profile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "failure/windows_path.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  /// Writes `bytes` to the settings file `name` and gives its path.
  std::string Write(const std::string& name, std::string_view bytes) {
    const std::string path = dir_.path().string() + "\\" + name;
    const HANDLE file = CreateFileW(WindowsPath(path).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
  }

  testing::TempDir dir_;
};

TEST_F(ProfileTest, ReadsTheValueAndGivesEmptyTextForWhatIsMissing) {
  const std::string path = Write("rewrite.ini", "[other]\r\ntest=2\r\n[common]\r\ntest=1\r\n");
  EXPECT_EQ(ReadProfileString(path, u"common", u"test"), u"1");
  EXPECT_EQ(ReadProfileString(path, u"other", u"test"), u"2");
  EXPECT_EQ(ReadProfileString(path, u"common", u"missing"), u"");
  EXPECT_EQ(ReadProfileString(path, u"missing", u"test"), u"");
  const std::string missing = dir_.path().string() + "\\missing.ini";
  EXPECT_EQ(ReadProfileString(missing, u"common", u"test"), u"");
  FlushProfileCache(missing);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing.ini")) << "the flush made the file";
}

TEST_F(ProfileTest, ValuesAreCutTo2047Characters) {
  const std::string value(3000, '7');
  const std::string path = Write("rewrite.ini", "[common]\r\ntest=" + value + "\r\n");
  EXPECT_EQ(ReadProfileString(path, u"common", u"test"), std::u16string(kMaxSettingsValue, u'7'));
}

TEST_F(ProfileTest, AfterTheFlushAChangedFileIsReadAfresh) {
  const std::string path = Write("rewrite.ini", "[common]\r\ntest=1\r\n");
  EXPECT_EQ(ReadProfileString(path, u"common", u"test"), u"1");
  FlushProfileCache(path);
  Write("rewrite.ini", "[common]\r\ntest=0\r\n");
  EXPECT_EQ(ReadProfileString(path, u"common", u"test"), u"0");
}

TEST_F(ProfileTest, ThePathReachesTheSystemWhateverItHolds) {
  const std::string names[] = {
      "Auftr\xC3\xA4ge \xE2\x82\xAC \xF0\x9F\x98\x80.ini",
      std::string(250, 'p') + ".ini",  // a full path beyond 260
  };
  for (const std::string& name : names) {
    const std::string path = Write(name, "[common]\r\ntest=1\r\n");
    EXPECT_EQ(ReadProfileString(path, u"common", u"test"), u"1") << name;
    FlushProfileCache(path);
  }
}

}  // namespace
}  // namespace ncrewrite
