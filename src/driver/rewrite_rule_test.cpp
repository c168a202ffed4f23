#include "driver/rewrite_rule.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "testing/rewrite_oracle.h"

namespace ncrewrite {
namespace {

using testing::RewriteSlowly;
using Lines = std::vector<std::u16string>;

/// "A, M104, B" -> {"A", "M104", "B"}; "" -> no lines.
Lines Split(std::u16string_view text) {
  Lines lines;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(u", "), text.size());
    lines.emplace_back(text.substr(0, comma));
    text.remove_prefix(std::min(comma + 2, text.size()));
  }
  return lines;
}

Lines Rewrite(const Lines& before, const TextEncoding& encoding = Utf16LeEncoding()) {
  LineList list = LineList::FromLines(encoding, before);
  ApplyRewriteRule(list);
  return list.DecodedLines();
}

struct RuleCase {
  const char* name;
  std::u16string_view before;
  std::u16string_view after;
};

TEST(ApplyRewriteRule, EdgeCases) {
  const RuleCase cases[] = {
      {"basic", u"A, M104, B, M80, M81, C", u"A, M104 M180, B, C"},
      {"no M104 above", u"A, B, M80, M81, C", u"A, B, M80, M81, C"},
      {"M104 only at index 0", u"M104, M80, M81, A", u"M104, M80, M81, A"},
      {"M80 at index 0", u"M80, M81, M104, A", u"M80, M81, M104, A"},
      {"other line after M80", u"A, M104, M80, B, M81", u"A, M104 M180, B, M81"},
      {"two M81 after M80", u"A, M104, M80, M81, M81, B", u"A, M104 M180, M81, B"},
      {"two M80, one M104", u"A, M104, M80, B, M80, C", u"A, M104 M180, B, M80, C"},
      {"two M80, two M104", u"A, M104, B, M104, M80, M81, C, M80, D",
       u"A, M104 M180, B, M104 M180, C, D"},
      {"M80 after removed M81", u"A, M104, M104, M80, M81, M80, M81, B",
       u"A, M104, M104 M180, M80, M81, B"},
      {"M80 after removed M80", u"A, M104, M104, M80, M80, M81", u"A, M104, M104 M180, M80, M81"},
      {"M80 last", u"A, M104, B, M80", u"A, M104 M180, B"},
      {"one line", u"M80", u"M80"},
      {"empty list", u"", u""},
      {"case matters", u"A, M104, m80, M81, B", u"A, M104, m80, M81, B"},
      {"more text matters", u"A, M104 S200, M80, M81", u"A, M104 S200, M80, M81"},
      {"already rewritten", u"A, M104 M180, M80, M81", u"A, M104 M180, M80, M81"},
      {"M80 followed by text", u"A, M104, M80;x, M80 (x), M81", u"A, M104, M80;x, M80 (x), M81"},
      {"M104 at index 1 is found", u"A, M104, M80", u"A, M104 M180"},
  };
  for (const RuleCase& c : cases) {
    EXPECT_EQ(Rewrite(Split(c.before)), Split(c.after)) << c.name;
  }
}

TEST(ApplyRewriteRule, BlanksAroundCodesDoNotMatterButStayOnOtherLines) {
  const Lines before = {u"A", u"  M104\t", u"B", u"\tM80 ", u" M81\t\t", u"C", u"  ", u""};
  EXPECT_EQ(Rewrite(before), (Lines{u"A", u"M104 M180", u"B", u"C", u"  ", u""}));
  // Every unit up to U+0020 is a blank, the NUL and vertical tab included;
  // a no-break space is not.
  EXPECT_EQ(Rewrite({u"A", std::u16string(u"M104\0\v", 6), u"M80\x1f", u"B"}),
            (Lines{u"A", u"M104 M180", u"B"}));
  EXPECT_EQ(Rewrite({u"A", u"M104", u"M80\u00a0", u"M81"}),
            (Lines{u"A", u"M104", u"M80\u00a0", u"M81"}));
}

TEST(ApplyRewriteRule, EmptyLineBetweenM80AndM81KeepsM81) {
  EXPECT_EQ(Rewrite({u"A", u"M104", u"M80", u"", u"M81"}),
            (Lines{u"A", u"M104 M180", u"", u"M81"}));
}

TEST(ApplyRewriteRule, AppliedAgainChangesItsOwnOutput) {
  LineList list = LineList::FromLines(Utf16LeEncoding(),
                                      Split(u"A, M104, M104, M80, M81, M80, M81, B"));
  ApplyRewriteRule(list);
  ApplyRewriteRule(list);
  EXPECT_EQ(list.DecodedLines(), Split(u"A, M104 M180, M104 M180, B"));
}

Lines RandomLines(std::mt19937& random) {
  // Besides the codes, near misses that share their first units ("M8",
  // "M10", "M1040", "M82", "M180"), since lines are told apart unit by unit.
  static const std::u16string_view kCodes[] = {
      u"M80", u"M81", u"M104", u"M104 M180", u"A",  u"",    u"m80",  u"M800",
      u"M80", u"M81", u"M104", u"M8",        u"M1", u"M10", u"M1040", u"M82", u"M180"};
  static const std::u16string_view kBlanks[] = {u"", u"", u"", u" ", u"\t", u"  \t"};
  std::uniform_int_distribution<std::size_t> count(0, 40);
  std::uniform_int_distribution<std::size_t> code(0, std::size(kCodes) - 1);
  std::uniform_int_distribution<std::size_t> blank(0, std::size(kBlanks) - 1);
  Lines lines(count(random));
  for (std::u16string& line : lines) {
    line.append(kBlanks[blank(random)]);
    line.append(kCodes[code(random)]);
    line.append(kBlanks[blank(random)]);
  }
  return lines;
}

TEST(ApplyRewriteRule, AgreesWithDirectTranscriptionOnRandomLists) {
  std::mt19937 random(20261209);
  const TextEncoding* encodings[] = {&Utf16LeEncoding(), &Utf16BeEncoding(), &Utf8Encoding(),
                                     &Windows1252Encoding()};
  for (std::size_t round = 0; round < 5000; ++round) {
    const Lines before = RandomLines(random);
    const TextEncoding& encoding = *encodings[round % std::size(encodings)];
    ASSERT_EQ(Rewrite(before, encoding), RewriteSlowly(before))
        << "round " << round << " in " << encoding.name;
  }
}

}  // namespace
}  // namespace ncrewrite
