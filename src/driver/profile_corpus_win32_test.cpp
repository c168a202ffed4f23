// The portable settings reader, which the POSIX build uses, against the
// platform's own: GetPrivateProfileStringW as the program calls it, on the
// corpus of settings files.

#include <windows.h>

#include <gtest/gtest.h>

#include "driver/parse_integer.h"
#include "driver/profile.h"
#include "driver/profile_corpus.h"
#include "failure/platform_text.h"
#include "testing/temp_dir.h"
#include "textfile/text_encoding.h"

namespace ncrewrite {
namespace {

std::u16string PlatformValue(const std::string& path, const wchar_t* key = L"test") {
  const std::u16string wide_path = Utf16FromWtf8(path);
  wchar_t buffer[kMaxSettingsValue + 1];
  const DWORD length = GetPrivateProfileStringW(
      L"common", key, L"", buffer, static_cast<DWORD>(std::size(buffer)),
      reinterpret_cast<const wchar_t*>(wide_path.c_str()));
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

std::u16string PortableValue(const std::string& path, std::u16string_view key = u"test") {
  return FindProfileValue(DecodeProfile(testing::ReadFile(path), Windows1252Encoding()),
                          u"common", key);
}

TEST(PortableProfileReader, AgreesWithGetPrivateProfileStringWOnTheCorpus) {
  // The POSIX build reads unmarked files as Windows-1252: the comparison
  // holds where that is the system code page.
  if (GetACP() != 1252) GTEST_SKIP() << "the system code page is " << GetACP() << ", not 1252";
  for (const testing::ProfileCorpusCase& c : testing::ProfileCorpus()) {
    const std::string path = testing::ProfileCorpusPath(c.file);
    const std::u16string platform = PlatformValue(path);
    EXPECT_EQ(PortableValue(path), platform) << c.file;
    EXPECT_EQ(platform, c.value) << c.file << ": the corpus table is out of date";
    EXPECT_EQ(ParseInteger(platform, 0), c.mode) << c.file;
  }
}

// What the sample settings file says of its comments: a line that starts
// with ';' (or '#') is a key of its own, with the name up to its '='.
TEST(PortableProfileReader, ReadsCommentLinesAsKeysOfTheirOwnAsWindowsDoes) {
  struct Case {
    std::string_view file;
    const wchar_t* key;
    std::u16string_view value;
  };
  const Case cases[] = {
      {"comment-semicolon-is-a-key.ini", L";test", u"1"},
      {"comment-hash-is-a-key.ini", L"#test", u"1"},
      {"ncrewrite.ini", L"; test",
       u"0  The result is written over the program file. This is also what"},
  };
  for (const Case& c : cases) {
    const std::string path = testing::ProfileCorpusPath(c.file);
    const std::u16string key(reinterpret_cast<const char16_t*>(c.key));
    EXPECT_EQ(PlatformValue(path, c.key), c.value) << c.file;
    EXPECT_EQ(PortableValue(path, key), c.value) << c.file;
  }
}

}  // namespace
}  // namespace ncrewrite
