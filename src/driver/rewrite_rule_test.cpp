#include "driver/rewrite_rule.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "testing/rewrite_oracle.h"
#include "testing/stored_list.h"

namespace ncrewrite {
namespace {

using testing::RewriteSlowly;
using testing::StoredList;
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

TEST(ApplyRewriteRule, ManyWaitingM104LinesAreTakenNearestFirst) {
  // More "M104" lines wait than the stack first has room for; the first
  // "M80" takes the last of them, and each one is taken once.
  constexpr int kWaiting = 1000;
  Lines before = {u"A"};
  for (int k = 0; k < kWaiting; ++k) before.push_back(u"M104");
  for (int k = 0; k < kWaiting - 1; ++k) {
    // The line after a removed "M81" is not tested for "M80": "B" comes
    // first.
    before.insert(before.end(), {u"M80", u"M81", u"B"});
  }
  Lines after = {u"A", u"M104"};
  for (int k = 1; k < kWaiting; ++k) after.push_back(u"M104 M180");
  for (int k = 1; k < kWaiting; ++k) after.push_back(u"B");
  EXPECT_EQ(Rewrite(before, Windows1252Encoding()), after);
  EXPECT_EQ(RewriteSlowly(before), after);
}

TEST(ApplyRewriteRule, AppliedAgainChangesItsOwnOutput) {
  LineList list = LineList::FromLines(Utf16LeEncoding(),
                                      Split(u"A, M104, M104, M80, M81, M80, M81, B"));
  ApplyRewriteRule(list);
  ApplyRewriteRule(list);
  EXPECT_EQ(list.DecodedLines(), Split(u"A, M104 M180, M104 M180, B"));
}

TEST(ApplyRewriteRule, AgreesWithDirectTranscriptionOnEveryShortListOfCodes) {
  // Every list of up to seven lines from the codes and one other line: each
  // code in each place the rule can stand in (after a taking line, after a
  // dropped "M81" line, with and without a waiting "M104" line, at line 0).
  static const std::u16string_view kLines[] = {u"A", u"M80", u"M81", u"M104"};
  constexpr std::size_t kMaxLines = 7;
  for (std::size_t count = 0; count <= kMaxLines; ++count) {
    std::vector<std::size_t> digits(count, 0);
    while (true) {
      Lines before;
      for (const std::size_t digit : digits) before.emplace_back(kLines[digit]);
      ASSERT_EQ(Rewrite(before, Windows1252Encoding()), RewriteSlowly(before))
          << "lines " << ::testing::PrintToString(before);
      std::size_t k = 0;
      while (k < count && ++digits[k] == std::size(kLines)) digits[k++] = 0;
      if (k == count) break;
    }
  }
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

/// Applies the rule to the stored text and checks it against the
/// transcription of the lines the text holds.
void ExpectAgreement(const TextEncoding& encoding, std::u16string_view text,
                     const std::string& context) {
  LineList list = StoredList(encoding, text);
  const Lines expected = RewriteSlowly(list.DecodedLines());
  ApplyRewriteRule(list);
  ASSERT_EQ(list.DecodedLines(), expected) << context << " in " << encoding.name;
}

const TextEncoding* const kUnitFormats[] = {&Windows1252Encoding(), &Utf16LeEncoding(),
                                            &Utf16BeEncoding()};

TEST(ApplyRewriteRule, CodesAtEveryPlaceInABlock) {
  // A line of `pad` units moves the codes through every position in a
  // 64-byte block: an "M" last in a block with its "1" in the next, a CR LF
  // split between blocks, a code line longer than a block.
  const std::u16string_view shapes[] = {
      u"A\nM104\nM80\nM81\nB",
      u"A\r\nM104\r\nM80\r\nM81",
      u"A\rM104\rB\rM80\rM81\r",
      u"A\nM104\nM80\nM80\nM81\nM80\n",
      u"A\nM104                                                                    \nM80\n",
      u"A\n M104\n\t                                                                   M80\n",
  };
  for (const TextEncoding* encoding : kUnitFormats) {
    for (const std::u16string_view shape : shapes) {
      for (std::size_t pad = 0; pad <= 70; ++pad) {
        const std::u16string text = u"%\n" + std::u16string(pad, u'X') + u"\n" +
                                    std::u16string(shape);
        ExpectAgreement(*encoding, text, "pad " + std::to_string(pad));
      }
    }
  }
}

TEST(ApplyRewriteRule, RunsOfBareM104LinesAtEveryPlaceInABlock) {
  // A block of bare "M104" lines is pushed at once: runs that start at the
  // first line (never taken), after a line that began in the block before,
  // with near misses and blanks among them, all taken by later "M80" lines.
  const std::u16string_view runs[] = {
      u"M104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\nM104\n",
      u"M104\r\nM104\r\nM104\r\nM104\r\nM104\r\nM104\r\nM104\r\nM104\r\nM104\r\n",
      u"M104\rM104\rM104\rM104\rM104\rM104\rM104\rM104\rM104\rM104\rM104\rM104\r",
      u"M104\nM104\nM105\nM104\nN104\nM104\nM1044\nM104\nM104 \nM104\nM10\nM104\n\nM104\n",
      u"M104\nM104\nM80\nM104\nM104\nM81\nM104\nM104\nM80\nM81\nM104\nM104\nM104\n",
  };
  for (const TextEncoding* encoding : kUnitFormats) {
    for (const std::u16string_view run : runs) {
      for (std::size_t pad = 0; pad <= 66; ++pad) {
        std::u16string text = pad == 0 ? u"" : std::u16string(pad, u'X') + u"\n";
        for (int k = 0; k < 3; ++k) text += run;
        for (int k = 0; k < 50; ++k) text += k % 5 == 4 ? u"M80\nB\n" : u"M80\nM81\n";
        ExpectAgreement(*encoding, text, "pad " + std::to_string(pad));
      }
    }
  }
}

TEST(ApplyRewriteRule, AgreesWithDirectTranscriptionOnLongTextsWithAnyBreaks) {
  // Long enough for many blocks; runs of other lines let the walk pass
  // blocks, and every kind of line break ends the codes.
  std::mt19937 random(20261210);
  static const std::u16string_view kLines[] = {
      u"M80", u"M81", u"M104", u"N10 G1 X1.5 Y2", u"M8", u"M1040", u" M80 ", u"\tM104", u"",
      u"M104 M180", u"G0 X0 Y0 Z10 (a comment long enough to span a block of the text)"};
  static const std::u16string_view kBreaks[] = {u"\r\n", u"\r\n", u"\n", u"\r"};
  std::uniform_int_distribution<std::size_t> line(0, std::size(kLines) - 1);
  std::uniform_int_distribution<std::size_t> line_break(0, std::size(kBreaks) - 1);
  std::uniform_int_distribution<std::size_t> count(0, 400);
  std::uniform_int_distribution<int> percent(0, 99);
  for (std::size_t round = 0; round < 300; ++round) {
    // Some texts are mostly other lines, as in real programs.
    const int other_percent = percent(random);
    std::u16string text;
    for (std::size_t n = count(random); n > 0; --n) {
      text += percent(random) < other_percent ? kLines[3] : kLines[line(random)];
      text += kBreaks[line_break(random)];
    }
    if (percent(random) < 30) text += kLines[line(random)];  // no final break
    ExpectAgreement(*kUnitFormats[round % std::size(kUnitFormats)], text,
                    "round " + std::to_string(round));
  }
}

}  // namespace
}  // namespace ncrewrite
