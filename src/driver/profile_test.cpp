#include "driver/profile.h"

#include <gtest/gtest.h>

namespace ncrewrite {
namespace {

TEST(FindProfileValue, ReadsLikeTheWindowsProfileReader) {
  struct Case {
    const char* name;
    std::u16string_view content;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {"plain", u"[common]\r\ntest=1\r\n", u"1"},
      {"LF and CR line ends", u"[other]\nx=2\r[common]\rtest=3", u"3"},
      {"names ignore case and blanks", u" [ COMMON ] \n  Test  =4", u"4"},
      {"text after ] ignored", u"[common] trailing words\ntest=5", u"5"},
      {"value blanks trimmed", u"[common]\ntest= \t 6 \t", u"6"},
      {"double quotes removed", u"[common]\ntest=\" 7 \"", u" 7 "},
      {"single quotes removed", u"[common]\ntest='8'", u"8"},
      {"unmatched quotes kept", u"[common]\ntest=\"9'", u"\"9'"},
      {"one pair only", u"[common]\ntest=\"\"1\"\"", u"\"1\""},
      {"first key wins", u"[common]\ntest=1\ntest=2", u"1"},
      {"later same section ignored", u"[common]\nother=1\n[x]\n[common]\ntest=2", u""},
      {"no comment syntax", u"[common]\n;test=1\ntest=1 ; note", u"1 ; note"},
      {"key named with semicolon", u"[common]\n;test=1", u""},
      {"key in another section", u"[other]\ntest=1", u""},
      {"key before any section", u"test=1\n[common]", u""},
      {"missing section", u"", u""},
      {"empty value", u"[common]\ntest=", u""},
      {"equals in value", u"[common]\ntest=a=b", u"a=b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindProfileValue(c.content, u"common", u"test"), c.expected) << c.name;
  }
}

TEST(FindProfileValue, CutsLongValues) {
  const std::u16string value(3000, u'7');
  EXPECT_EQ(FindProfileValue(u"[common]\ntest=" + value, u"common", u"test"),
            value.substr(0, kMaxSettingsValue));
}

TEST(DecodeProfile, FollowsTheByteOrderMark) {
  using namespace std::string_view_literals;
  EXPECT_EQ(DecodeProfile("\xEF\xBB\xBF\xC3\xA4"), u"ä");
  EXPECT_EQ(DecodeProfile("\xFF\xFE" "a\0"sv), u"a");
  EXPECT_EQ(DecodeProfile("\xFE\xFF\0a"sv), u"a");
  EXPECT_EQ(DecodeProfile("\xE4\x80"), u"ä€");
  EXPECT_EQ(DecodeProfile("\xEF\xBB\xBF\xFF"), u"");
}

}  // namespace
}  // namespace ncrewrite
