#include "failure/platform_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ncrewrite {
namespace {

struct PathCase {
  const char* name;
  std::u16string units;
  std::string wtf8;
};

// Windows paths hold any code units; each must come back as it was.
const PathCase kPathCases[] = {
    {"ASCII path", u"C:\\jobs\\part.nc", "C:\\jobs\\part.nc"},
    {"letters beyond ASCII", u"C:\\Aufträge\\Teil€.nc", "C:\\Auftr\xC3\xA4ge\\Teil\xE2\x82\xAC.nc"},
    {"a surrogate pair", u"\U0001F600.nc", "\xF0\x9F\x98\x80.nc"},
    {"a lone high surrogate", std::u16string(u"a\xD83D" u"b", 3), "a\xED\xA0\xBD" "b"},
    {"a lone low surrogate", std::u16string(u"\xDE00", 1), "\xED\xB8\x80"},
    {"a low before a high surrogate", std::u16string(u"\xDE00\xD83D", 2),
     "\xED\xB8\x80\xED\xA0\xBD"},
    {"a high surrogate at the end", std::u16string(u"x\xDBFF", 2), "x\xED\xAF\xBF"},
    {"NUL and the highest unit", std::u16string(u"\0\xFFFF", 2), std::string("\0\xEF\xBF\xBF", 4)},
    {"empty", u"", ""},
};

TEST(PlatformText, PathsSurviveTheTripThroughWtf8) {
  for (const PathCase& c : kPathCases) {
    EXPECT_EQ(Wtf8FromUtf16(c.units), c.wtf8) << c.name;
    EXPECT_EQ(Utf16FromWtf8(c.wtf8), c.units) << c.name;
  }
}

TEST(PlatformText, BytesThatNoPathGivesBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"stray continuation byte", "a\x80" "b", u"a\uFFFDb"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"cut-off sequence", "\xE2\x82", u"\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16FromWtf8(c.bytes), c.units) << c.name;
}

TEST(PlatformText, FixedRoomTakesWholeCharactersOnly) {
  // Exactly the room needed: the same as the allocating forms.
  for (const PathCase& c : kPathCases) {
    std::string bytes(c.wtf8.size(), '?');
    EXPECT_EQ(Wtf8FromUtf16(c.units, bytes), c.wtf8.size()) << c.name;
    EXPECT_EQ(bytes, c.wtf8) << c.name;
    std::u16string units(c.units.size(), u'?');
    EXPECT_EQ(Utf16FromWtf8(c.wtf8, units), c.units.size()) << c.name;
    EXPECT_EQ(units, c.units) << c.name;
  }

  // One byte or unit short: the last character is left out whole.
  struct Case {
    std::u16string units;
    std::size_t bytes_room;
    std::size_t bytes_written;
  };
  const Case cases[] = {
      {u"a\u00E4", 2, 1},         // the two bytes of the umlaut
      {u"a\u20AC", 3, 1},         // the three of the euro sign
      {u"a\U0001F600", 4, 1},     // the four of a pair
      {u"\U0001F600b", 4, 4},     // the pair fits, the letter not
      {std::u16string(u"a\xD800", 2), 3, 1},  // a lone surrogate takes three
      {u"abc", 0, 0},
  };
  for (const Case& c : cases) {
    std::string bytes(c.bytes_room, '?');
    EXPECT_EQ(Wtf8FromUtf16(c.units, bytes), c.bytes_written);
  }
  char16_t one[1];
  EXPECT_EQ(Utf16FromWtf8("\xF0\x9F\x98\x80", one), 0u) << "half a pair";
  char16_t three[3];
  EXPECT_EQ(Utf16FromWtf8("ab\xF0\x9F\x98\x80", three), 2u);
  EXPECT_EQ(Utf16FromWtf8("ab\x80", three), 3u) << "a replacement character fits";
  EXPECT_EQ(three[2], u'\uFFFD');
}

}  // namespace
}  // namespace ncrewrite
