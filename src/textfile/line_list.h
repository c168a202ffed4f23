#pragma once

#include <bit>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textfile/file_io.h"
#include "textfile/line_scan.h"
#include "textfile/text_encoding.h"

namespace ncrewrite {

/// The lines of one program file, in file order.
///
/// A line list keeps the file's text as it was loaded, in its stored
/// encoding, and its lines as positions in that text: loading a program of
/// hundreds of MB makes no object per line. Rewriting records edits instead
/// of moving lines: two bits per stored line, up to the last edited one, say
/// whether it is kept, dropped or replaced by the list's replacement text.
/// Saving walks the text once and applies the edits on the way.
class LineList {
 public:
  /// An empty list with no remembered encoding.
  LineList();

  /// A list of `lines`, stored in `encoding`, which is also its remembered
  /// encoding. The lines must not contain CR or LF.
  static LineList FromLines(const TextEncoding& encoding,
                            const std::vector<std::u16string>& lines);

  /// The encoding of the last load, or null before the first one.
  const TextEncoding* remembered_encoding() const noexcept { return remembered_; }
  void set_remembered_encoding(const TextEncoding& encoding) noexcept { remembered_ = &encoding; }

  /// Replaces every line by the lines of the text at [begin, end) of
  /// `bytes`, whose units are those of `stored`.
  void AssignText(const TextEncoding& stored, FileBytes bytes, std::uint64_t begin,
                  std::uint64_t end);

  /// Every line as text. For inspection and tests; not for large files.
  std::vector<std::u16string> DecodedLines() const;

  /// The encoding that the stored text and replacement texts are in.
  const TextEncoding& stored_encoding() const noexcept { return *stored_; }
  const char* text_begin() const noexcept { return bytes_.data() + begin_; }
  const char* text_end() const noexcept { return bytes_.data() + end_; }

  /// The bytes that the stored text is part of. A save may turn a view of
  /// the loaded file into a copy, which leaves the lines as they are.
  FileBytes& stored_bytes() noexcept { return bytes_; }

  /// Lets go of the file that the text is a view of, once it is no longer
  /// needed, after checking that the file did not change meanwhile (raises
  /// EReadError): the list holds no lines then, and keeps its remembered
  /// encoding. A list whose text is its own keeps it.
  void ReleaseFileView();

  bool has_edits() const noexcept { return !marks_.empty(); }

  /// Turns the current lines into plain stored text again, with no edits.
  void ApplyEdits();

  /// What becomes of a stored line.
  enum class LineMark : std::uint8_t { kKept = 0, kDropped = 1, kReplaced = 2 };

  /// Sets the text that every line marked kReplaced gets.
  void SetReplacementText(std::u16string_view text);

  /// The words of the marks, made to reach stored line number `index`, for
  /// a pass that marks each line at most once with MarkKeptLine, while no
  /// other call changes the list. Lines up to `index` count as marked then
  /// (has_edits), but kept until marked otherwise.
  std::uint64_t* MarksUpTo(std::uint64_t index) {
    const auto word = static_cast<std::size_t>(index / kMarksPerWord);
    if (word >= marks_.size()) GrowMarks(word);
    return marks_.data();
  }

  /// Marks stored line number `index`, which is kept so far, as `mark` in
  /// `marks` from MarksUpTo.
  static void MarkKeptLine(std::uint64_t* marks, std::uint64_t index, LineMark mark) {
    marks[index / kMarksPerWord] |= std::uint64_t{static_cast<std::uint8_t>(mark)}
                                    << (index % kMarksPerWord * kMarkBits);
  }

  /// Marks stored line number `index` (counted from 0 in the stored text,
  /// whatever was marked before). Lines may be marked in any order.
  void MarkLine(std::uint64_t index, LineMark mark) {
    const auto word = static_cast<std::size_t>(index / kMarksPerWord);
    if (word >= marks_.size()) GrowMarks(word);
    const unsigned shift = index % kMarksPerWord * kMarkBits;
    marks_[word] = (marks_[word] & ~(std::uint64_t{3} << shift)) |
                   std::uint64_t{static_cast<std::uint8_t>(mark)} << shift;
  }

  /// Gives `sink` the lines in order, each followed by CR LF, as pieces:
  /// `sink.Text(to, const char* begin, const char* end)` for stored text to
  /// take as it is (kept lines with their CR LF), or `sink.ShortText` with
  /// the same arguments for a piece of up to 16 bytes after which the text
  /// goes on, so that 16 bytes from `begin` can be read, `sink.LineText`
  /// likewise for up to 64 bytes, `sink.Break(to)` for a
  /// CR LF that the stored text lacks there, and `sink.Replaced(to)` for a
  /// replaced line with its CR LF. `to` is a cursor (char*) into the sink's
  /// output: `sink.Begin()` gives the first, each piece returns the next,
  /// `sink.Room(to)` is called before every block of at most 64 lines so
  /// that the sink can make room for its short pieces, and `sink.End(to)`
  /// is called last. `sink.SetReplacementText(std::string_view encoded)` is
  /// called first. `Units` must match the stored encoding.
  ///
  /// The text is walked in blocks: a block that holds no edited line and no
  /// break other than CR LF costs a few instructions, and kept lines go out
  /// as few long pieces.
  template <typename Units, typename Sink>
  void WriteLines(Sink& sink) const;

  /// Calls `visitor.Stored(const LineSpan&)` for every stored line that is
  /// kept and `visitor.Replaced(std::string_view encoded)` for every replaced
  /// one, in order. `Units` must match the stored encoding.
  template <typename Units, typename Visitor>
  void VisitLines(Visitor& visitor) const;

 private:
  static constexpr unsigned kMarkBits = 2;
  static constexpr unsigned kMarksPerWord = 64 / kMarkBits;

  /// Makes room for the marks of word `word`.
  void GrowMarks(std::size_t word);

  /// The first line from `index` on that is not kept, or kNoLine.
  std::uint64_t FirstEditedFrom(std::uint64_t index) const;
  static constexpr std::uint64_t kNoLine = ~std::uint64_t{0};

  LineMark MarkOf(std::uint64_t index) const {
    const std::uint64_t word = marks_[static_cast<std::size_t>(index / kMarksPerWord)];
    return static_cast<LineMark>(word >> (index % kMarksPerWord * kMarkBits) & 3);
  }

  const TextEncoding* remembered_ = nullptr;
  const TextEncoding* stored_;
  FileBytes bytes_;
  std::uint64_t begin_ = 0;
  std::uint64_t end_ = 0;
  std::vector<std::uint64_t> marks_;  // kMarksPerWord lines a word, first line lowest
  std::string replacement_text_;      // encoded in *stored_
};

template <typename Units, typename Visitor>
void LineList::VisitLines(Visitor& visitor) const {
  LineReader<Units> reader(text_begin(), text_end());
  LineSpan line;
  const std::uint64_t marked = marks_.size() * kMarksPerWord;
  for (std::uint64_t index = 0; index < marked && reader.Next(line); ++index) {
    switch (MarkOf(index)) {
      case LineMark::kKept:
        visitor.Stored(line);
        break;
      case LineMark::kDropped:
        break;
      case LineMark::kReplaced:
        visitor.Replaced(std::string_view(replacement_text_));
        break;
    }
  }
  while (reader.Next(line)) visitor.Stored(line);
}

template <typename Units, typename Sink>
void LineList::WriteLines(Sink& sink) const {
  sink.SetReplacementText(replacement_text_);
  const char* const end = text_end();
  const char* run = text_begin();         // start of the text not given to the sink
  const char* line_begin = text_begin();  // start of line `index`
  std::uint64_t index = 0;                // lines that end before the block
  std::uint64_t next_edited = 0;          // lines [index, next_edited) are kept
  // The marks of the 32 lines from `line` on, lowest first.
  const std::uint64_t* const marks = marks_.data();
  const std::size_t mark_words = marks_.size();
  const auto marks_from = [marks, mark_words](std::uint64_t line) {
    const auto word = static_cast<std::size_t>(line / kMarksPerWord);
    const auto shift = static_cast<unsigned>(line % kMarksPerWord * kMarkBits);
    if (word >= mark_words) return std::uint64_t{0};
    std::uint64_t bits = marks[word] >> shift;
    if (shift != 0 && word + 1 < mark_words) bits |= marks[word + 1] << (64 - shift);
    return bits;
  };
  char* to = sink.Begin();
  // Pieces of up to 16 bytes with 16 bytes to read from their start are
  // most; the sink copies them in one fixed width, and the lines of a
  // program (up to 64 bytes) in another.
  const auto text = [&sink, end](char* cursor, const char* from, const char* until)
                        __attribute__((always_inline)) {
    if (until - from <= 16 && end - from >= 16) return sink.ShortText(cursor, from, until);
    if (until - from <= 64 && end - from >= 64) return sink.LineText(cursor, from, until);
    return sink.Text(cursor, from, until);
  };
  // The same for a block at least 128 bytes before the end, where every
  // piece that ends in the block has 64 bytes to read from its start.
  const auto far_text = [&sink](char* cursor, const char* from, const char* until)
                            __attribute__((always_inline)) {
    if (until - from <= 16) return sink.ShortText(cursor, from, until);
    if (until - from <= 64) return sink.LineText(cursor, from, until);
    return sink.Text(cursor, from, until);
  };
  // Gives the kept lines of a block with their lone breaks turned into
  // CR LF, pieces cut by `piece`.
  const auto kept_lines = [&sink, &to, &run](std::uint64_t lone, const char* base, auto piece)
                              __attribute__((always_inline)) {
    for (; lone != 0; lone &= lone - 1) {
      const char* at = base + LowestBit(lone);
      to = sink.Break(piece(to, run, at));
      run = at + Units::kSize;
    }
  };
  TextBlocks<Units> blocks(text_begin(), end);
  TextBlock<Units> block;
  while (blocks.Next(block)) {
    to = sink.Room(to);
    std::uint64_t breaks = block.breaks;
    // Once no edited line is left, lines are no longer counted.
    std::uint64_t ending = 0;
    if (next_edited != kNoLine) {
      ending = CountBits(breaks);
      if (next_edited < index + ending) next_edited = FirstEditedFrom(index);
    }
    const std::uint64_t lone_breaks = block.lone_breaks();
    if (next_edited >= index + ending) {
      // Every line that ends here is kept: only a lone CR or LF needs work.
      if (end - block.base >= 128) {
        kept_lines(lone_breaks, block.base, far_text);
      } else {
        kept_lines(lone_breaks, block.base, text);
      }
      if (breaks != 0) {
        line_begin = block.AfterBreak(HighestBit(breaks));
        index += ending;
      }
      continue;
    }
    const char* const base = block.base;
    // Where the lines after the breaks begin, but for one that begins past
    // the block.
    std::uint64_t begins = lone_breaks << Units::kSize | block.crlf << 2 * Units::kSize;
    std::uint64_t line_marks = marks_from(index);
    if (ending <= kMarksPerWord) {
      // A block in which every line that ends is dropped, or every one is
      // replaced (the runs that the rule makes of a file of codes), gives
      // its pieces without a walk over its lines.
      const std::uint64_t ending_marks =
          ending == kMarksPerWord ? ~std::uint64_t{0}
                                  : (std::uint64_t{1} << ending * kMarkBits) - 1;
      const std::uint64_t dropped = 0x5555555555555555ull & ending_marks;
      const std::uint64_t block_marks = line_marks & ending_marks;
      if (block_marks == dropped || block_marks == dropped << 1) {
        if (run != line_begin) to = text(to, run, line_begin);
        if (block_marks != dropped) {
          for (std::uint64_t k = 0; k < ending; ++k) to = sink.Replaced(to);
        }
        line_begin = run = block.AfterBreak(HighestBit(breaks));
        index += ending;
        continue;
      }
    }
    if (ending <= kMarksPerWord && block.crlf == 0) {
      // The common case of a program with LF breaks: every line that ends
      // here ends at a break of one unit, and its mark is at hand.
      index += ending;
      const auto lines_of_block = [&](auto piece) __attribute__((always_inline)) {
        for (; breaks != 0; breaks &= breaks - 1) {
          const char* const at = base + LowestBit(breaks);
          const auto mark = static_cast<LineMark>(line_marks & 3);
          line_marks >>= kMarkBits;
          if (mark == LineMark::kKept) {
            to = sink.Break(piece(to, run, at));
          } else {
            if (run != line_begin) to = piece(to, run, line_begin);
            if (mark == LineMark::kReplaced) to = sink.Replaced(to);
          }
          run = line_begin = at + Units::kSize;
        }
      };
      if (end - base >= 128) {
        lines_of_block(far_text);
      } else {
        lines_of_block(text);
      }
      continue;
    }
    std::uint64_t window_end = index + kMarksPerWord;  // lines that line_marks reach
    unsigned marks_left = kMarksPerWord;
    index += ending;
    for (; breaks != 0; breaks &= breaks - 1) {
      const unsigned offset = LowestBit(breaks);
      const char* next;
      if (begins != 0) {
        next = base + LowestBit(begins);
        begins &= begins - 1;
      } else {
        next = block.AfterBreak(offset);
      }
      if (marks_left == 0) {
        line_marks = marks_from(window_end);
        window_end += kMarksPerWord;
        marks_left = kMarksPerWord;
      }
      const auto mark = static_cast<LineMark>(line_marks & 3);
      line_marks >>= kMarkBits;
      --marks_left;
      if (mark != LineMark::kKept) {
        if (run != line_begin) to = text(to, run, line_begin);
        if (mark == LineMark::kReplaced) to = sink.Replaced(to);
        run = next;
      } else if ((lone_breaks >> offset & 1) != 0) {
        to = sink.Break(text(to, run, base + offset));
        run = next;
      }
      line_begin = next;
    }
  }
  to = sink.Room(to);
  if (line_begin < end) {
    // The last line has no break.
    const auto mark = next_edited == kNoLine ? LineMark::kKept
                                             : static_cast<LineMark>(marks_from(index) & 3);
    if (mark == LineMark::kKept) {
      to = sink.Break(text(to, run, end));
    } else {
      if (run != line_begin) to = text(to, run, line_begin);
      if (mark == LineMark::kReplaced) to = sink.Replaced(to);
    }
    run = end;
  }
  if (run != end) to = text(to, run, end);
  sink.End(to);
}

}  // namespace ncrewrite
