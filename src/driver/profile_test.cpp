#include "driver/profile.h"

#include <gtest/gtest.h>

#include "textfile/text_encoding.h"

namespace ncrewrite {
namespace {

using namespace std::string_view_literals;

// The files that these rules come from, each checked against Windows' own
// reader, are in profile_corpus/ (profile_corpus_test.cpp), long values
// included; the cases here show the rules on other names than [common] test.
TEST(FindProfileValue, FindsAnyKeyByTheRulesOfWindows) {
  struct Case {
    const char* name;
    std::u16string_view content;
    std::u16string_view section;
    std::u16string_view key;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {"other names", u"[a]\nk=1\n[Tool Table]\nT 1 = D6\n", u"tool table", u"t 1", u"D6"},
      {"wanted names lose their blanks", u"[a]\nk=1", u" a\t", u"\vk ", u"1"},
      {"only ASCII letters fold", u"[\u00c4]\n\u00e4=1\nK=2", u"\u00c4", u"\u00c4", u""},
      {"ASCII folds", u"[\u00c4]\n\u00e4=1\nK=2", u"\u00c4", u"k", u"2"},
      {"last ] ends the name", u"[a] [b]\nk=1\n[a] [b]]\nk=2", u"a] [b", u"k", u"1"},
      {"a name cut at NUL", u"[a\0x]\nk\0y=1"sv, u"a", u"k", u"1"},
      {"an empty name", u"[]\n=1\nk=2", u"", u"", u"1"},
      {"[ alone starts nothing", u"[a]\n[\nk=1", u"a", u"k", u"1"},
      {"key without value stops the search", u"[a]\nk\nk=1", u"a", u"k", u""},
      {"later section ignored", u"[a]\nj=1\n[a]\nk=1", u"a", u"k", u""},
      {"values end at NUL before quotes go", u"[a]\nk='1'\0'"sv, u"a", u"k", u"1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindProfileValue(c.content, c.section, c.key), c.expected) << c.name;
  }
}

TEST(DecodeProfile, FollowsTheByteOrderMarkElseTheSystemCodePage) {
  EXPECT_EQ(DecodeProfile("\xEF\xBB\xBF\xC3\xA4", Windows1252Encoding()), u"\u00e4");
  EXPECT_EQ(DecodeProfile("\xFF\xFE" "a\0b"sv, Windows1252Encoding()), u"a");
  EXPECT_EQ(DecodeProfile("\xFE\xFF\0a"sv, Windows1252Encoding()), u"a");
  EXPECT_EQ(DecodeProfile("\xE4\x80", Windows1252Encoding()), u"\u00e4\u20ac");
  EXPECT_EQ(DecodeProfile("\xEF\xBB\xBF\xFF" "1", Windows1252Encoding()), u"\uFFFD" "1");
}

TEST(DecodeUtf8Leniently, ReplacesWhatBreaksOffAsWindowsDoes) {
  struct Case {
    std::string_view bytes;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {"a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", u"a\u00e4\u20ac\U0001F600"},
      {"\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF", u"\uD7FF\uE000\U0010FFFF"},
      {"\x80|\xBF", u"\uFFFD|\uFFFD"},               // continuation bytes alone
      {"\xC0\xAF|\xC1\xBF", u"\uFFFD\uFFFD|\uFFFD\uFFFD"},  // leads of nothing
      {"\xF5\x80|\xFF", u"\uFFFD\uFFFD|\uFFFD"},
      {"\xE0\x80\x80|\xE0\x9F\xBF", u"\uFFFD\uFFFD|\uFFFD\uFFFD"},  // overlong: two bytes go
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD"},             // a surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},    // above U+10FFFF
      {"\xE2\x82x|\xF0\x9F\x98x", u"\uFFFDx|\uFFFDx"},  // broken off by a byte that stays
      {"\xE2\x82\r\n", u"\uFFFD\r\n"},
      {"1\xE2x", u"1\uFFFD"},                        // cut off by the end: the rest goes
      {"1\xF0\x9F\x98", u"1\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUtf8Leniently(c.bytes), c.expected) << ::testing::PrintToString(c.bytes);
  }
}

}  // namespace
}  // namespace ncrewrite
