#include "textfile/line_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "testing/stored_list.h"

namespace ncrewrite {
namespace {

/// A list of the stored text `text`, ready to be marked.
LineList MarkableList(const TextEncoding& encoding, std::u16string_view text) {
  LineList list = testing::StoredList(encoding, text);
  list.SetReplacementText(u"M104 M180");
  return list;
}

/// Collects the pieces of WriteLines.
class TextSink {
 public:
  explicit TextSink(const TextEncoding& encoding) : line_break_(EncodeText(encoding, u"\r\n")) {}

  void SetReplacementText(std::string_view encoded) { replacement_ = encoded; }
  char* Begin() { return nullptr; }
  char* Room(char* to) { return to; }
  void End(char*) {}
  char* ShortText(char* to, const char* begin, const char* end) { return Text(to, begin, end); }
  char* LineText(char* to, const char* begin, const char* end) { return Text(to, begin, end); }
  char* Text(char* to, const char* begin, const char* end) {
    EXPECT_LE(begin, end);
    text_.append(begin, static_cast<std::size_t>(end - begin));
    return to;
  }
  char* Break(char* to) {
    text_ += line_break_;
    return to;
  }
  char* Replaced(char* to) {
    text_ += replacement_ + line_break_;
    return to;
  }
  const std::string& text() const { return text_; }

 private:
  std::string line_break_;
  std::string replacement_;
  std::string text_;
};

/// Collects the lines of VisitLines, which walks them one by one, each with
/// CR LF after it: what WriteLines must give.
class LineSink {
 public:
  explicit LineSink(const TextEncoding& encoding) : line_break_(EncodeText(encoding, u"\r\n")) {}

  void Stored(const LineSpan& line) {
    text_.append(line.begin, static_cast<std::size_t>(line.end - line.begin));
    text_ += line_break_;
  }
  void Replaced(std::string_view encoded) {
    text_ += encoded;
    text_ += line_break_;
  }
  const std::string& text() const { return text_; }

 private:
  std::string line_break_;
  std::string text_;
};

/// What WriteLines gives, and what it should give.
std::pair<std::string, std::string> WrittenAndExpected(const LineList& list) {
  return WithUnits(list.stored_encoding().units, [&list]<typename Units>(Units) {
    TextSink written(list.stored_encoding());
    list.WriteLines<Units>(written);
    LineSink expected(list.stored_encoding());
    list.VisitLines<Units>(expected);
    return std::pair(written.text(), expected.text());
  });
}

const TextEncoding* const kUnitFormats[] = {&Windows1252Encoding(), &Utf16LeEncoding(),
                                            &Utf16BeEncoding()};

TEST(LineListWriteLines, BreaksAndEditsAtEveryPlaceInABlock) {
  // A line of `pad` units moves the later lines through every position in a
  // 64-byte block, so that each break kind and edit falls on a block edge,
  // straddles one (CR at its end, LF after it) and falls on a mark word edge
  // (line 32) once.
  using LineMark = LineList::LineMark;
  const std::u16string_view breaks[] = {u"\r\n", u"\r", u"\n"};
  const LineMark marks[] = {LineMark::kKept, LineMark::kDropped, LineMark::kReplaced};
  for (const TextEncoding* encoding : kUnitFormats) {
    for (const std::u16string_view line_break : breaks) {
      for (std::size_t pad = 0; pad <= 70; ++pad) {
        std::u16string text = std::u16string(pad, u'A') + u"\n";
        for (int k = 0; k < 40; ++k) {
          text += u"L";
          text += line_break;
        }
        text += u"last";  // no break
        for (const LineMark mark : marks) {
          for (const std::uint64_t edited : {std::uint64_t{1}, std::uint64_t{31},
                                             std::uint64_t{32}, std::uint64_t{41}}) {
            LineList list = MarkableList(*encoding, text);
            list.MarkLine(edited, mark);
            const auto [written, expected] = WrittenAndExpected(list);
            ASSERT_EQ(written, expected) << encoding->name << " pad " << pad << " line "
                                         << edited << " mark " << static_cast<int>(mark);
          }
        }
      }
    }
  }
}

TEST(LineListWriteLines, RunsOfDroppedOrReplacedLinesAtEveryPlaceInABlock) {
  // A block whose ending lines are all dropped or all replaced is passed at
  // once: runs that start and end inside a block, fill one, reach over the
  // 32 lines of a mark word, or start at the first line, each shifted
  // through every position in a 64-byte block.
  using LineMark = LineList::LineMark;
  const std::u16string_view breaks[] = {u"\r\n", u"\r", u"\n"};
  const std::pair<std::uint64_t, std::uint64_t> runs[] = {
      {1, 5}, {3, 40}, {30, 34}, {31, 33}, {32, 64}, {33, 70}, {0, 82}, {10, 83}};
  for (const TextEncoding* encoding : kUnitFormats) {
    for (const std::u16string_view line_break : breaks) {
      for (std::size_t pad = 0; pad <= 66; ++pad) {
        std::u16string text = std::u16string(pad, u'A') + u"\n";
        for (int k = 0; k < 80; ++k) {
          text += k % 3 == 0 ? u"LL" : u"L";
          text += line_break;
        }
        text += u"last";  // no break
        for (const LineMark mark : {LineMark::kDropped, LineMark::kReplaced}) {
          for (const auto& [first, last] : runs) {
            LineList list = MarkableList(*encoding, text);
            for (std::uint64_t line = first; line <= last; ++line) list.MarkLine(line, mark);
            const auto [written, expected] = WrittenAndExpected(list);
            ASSERT_EQ(written, expected) << encoding->name << " pad " << pad << " run " << first
                                         << ".." << last << " mark " << static_cast<int>(mark);
          }
        }
      }
    }
  }
}

TEST(LineListWriteLines, AgreesWithLineByLineWalkOnRandomTexts) {
  std::mt19937 random(20261210);
  static const std::u16string_view kPieces[] = {u"A", u"M", u"1", u" ", u"\r", u"\n",
                                                u"\r\n", u"M104", u"\u00e4"};
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<std::size_t> length(0, 600);
  std::uniform_int_distribution<int> percent(0, 99);
  for (std::size_t round = 0; round < 600; ++round) {
    const TextEncoding& encoding = *kUnitFormats[round % std::size(kUnitFormats)];
    std::u16string text;
    for (std::size_t n = length(random); n > 0; --n) text += kPieces[piece(random)];
    LineList list = MarkableList(encoding, text);
    // From no edits to edits on most lines, sometimes past the last line.
    const int density = round % 4 == 0 ? 0 : percent(random);
    for (std::uint64_t line = 0; line < text.size() + 40; ++line) {
      if (percent(random) < density) {
        list.MarkLine(line, percent(random) < 50 ? LineList::LineMark::kDropped
                                                 : LineList::LineMark::kReplaced);
      }
    }
    const auto [written, expected] = WrittenAndExpected(list);
    ASSERT_EQ(written, expected) << "round " << round;
  }
}

}  // namespace
}  // namespace ncrewrite
