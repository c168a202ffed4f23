#pragma once

#include <bit>
#include <cassert>
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

  /// A list of `lines` with `encoding` as its remembered encoding, stored in
  /// StoredEncodingOf(`encoding`). The lines must not contain CR or LF.
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

  /// The current lines as stored text, each followed by CR LF, in one
  /// piece.
  std::string JoinedText() const;

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

  template <typename Units, typename Sink>
  class BlockWriter;

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
  // The same ends for both, so that the compiler sees where a block is
  // within the text.
  const char* const begin = text_begin();
  const char* const end = text_end();
  BlockWriter<Units, Sink> writer(*this, sink, begin, end);
  TextBlocks<Units> blocks(begin, end);
  TextBlock<Units> block;
  while (blocks.Next(block)) writer.Write(block);
  writer.Finish();
}

/// The walk of WriteLines: where it is in the text and in the output, and
/// one member function for each kind of block. Made only as a local of
/// WriteLines, with every member function inlined there, so that its
/// members become locals in registers: the sink writes through char
/// pointers, which may alias any object in memory.
template <typename Units, typename Sink>
class LineList::BlockWriter {
 public:
  /// For the stored text [begin, end) of `list`.
  BlockWriter(const LineList& list, Sink& sink, const char* begin, const char* end)
      : list_(list),
        sink_(sink),
        end_(end),
        marks_(list.marks_.data()),
        mark_words_(list.marks_.size()),
        to_(sink.Begin()),
        run_(begin),
        line_begin_(begin) {}

  /// Gives the lines that end in `block`, and the kept text before them.
  [[gnu::always_inline]] void Write(const TextBlock<Units>& block) {
    to_ = sink_.Room(to_);
    // Once no edited line is left, lines are no longer counted.
    std::uint64_t ending = 0;
    if (next_edited_ != kNoLine) {
      ending = CountBits(block.breaks);
      if (next_edited_ < index_ + ending) next_edited_ = list_.FirstEditedFrom(index_);
    }
    if (next_edited_ >= index_ + ending) {
      WriteKeptBlock(block, ending);
      return;
    }
    const std::uint64_t line_marks = MarksFrom(index_);
    if (ending <= kMarksPerWord) {
      if (WriteUniformBlock(block, ending, line_marks)) return;
      if (block.crlf == 0) {
        if (IsFar(block)) {
          WriteOneUnitBreakBlock<true>(block, ending, line_marks);
        } else {
          WriteOneUnitBreakBlock<false>(block, ending, line_marks);
        }
        return;
      }
    }
    WriteGeneralBlock(block, ending, line_marks);
  }

  /// Gives the last line if it has no break, and the rest of the text.
  [[gnu::always_inline]] void Finish() {
    to_ = sink_.Room(to_);
    if (line_begin_ < end_) WriteLastLine();
    if (run_ != end_) to_ = Piece<false>(to_, run_, end_);
    sink_.End(to_);
  }

 private:
  /// Whether every piece that ends in `block` has 64 bytes to read from its
  /// start.
  bool IsFar(const TextBlock<Units>& block) const { return end_ - block.base >= 128; }

  /// Gives [from, until) to the sink. Pieces of up to 16 bytes with 16
  /// bytes to read from their start are most; the sink copies them in one
  /// fixed width, and the lines of a program (up to 64 bytes) in another.
  /// With `kFar` the piece lies in a block for which IsFar holds.
  template <bool kFar>
  [[gnu::always_inline]] char* Piece(char* to, const char* from, const char* until) {
    assert(from <= until);
    if (until - from <= 16 && (kFar || end_ - from >= 16)) return sink_.ShortText(to, from, until);
    if (until - from <= 64 && (kFar || end_ - from >= 64)) return sink_.LineText(to, from, until);
    return sink_.Text(to, from, until);
  }

  /// The marks of the kMarksPerWord lines from `line` on, lowest first.
  [[gnu::always_inline]] std::uint64_t MarksFrom(std::uint64_t line) const {
    const auto word = static_cast<std::size_t>(line / kMarksPerWord);
    const auto shift = static_cast<unsigned>(line % kMarksPerWord * kMarkBits);
    if (word >= mark_words_) return 0;
    std::uint64_t bits = marks_[word] >> shift;
    if (shift != 0 && word + 1 < mark_words_) bits |= marks_[word + 1] << (64 - shift);
    return bits;
  }

  /// A block in which every line that ends is kept: only a lone CR or LF
  /// needs work, and the kept text runs on.
  [[gnu::always_inline]] void WriteKeptBlock(const TextBlock<Units>& block,
                                             std::uint64_t ending) {
    assert(next_edited_ >= index_ + ending);
    if (IsFar(block)) {
      WriteLoneBreaks<true>(block);
    } else {
      WriteLoneBreaks<false>(block);
    }
    if (block.breaks != 0) {
      line_begin_ = block.AfterBreak(HighestBit(block.breaks));
      index_ += ending;
    }
  }

  /// Gives the kept lines of `block` that end at a lone CR or LF, each with
  /// CR LF instead.
  template <bool kFar>
  [[gnu::always_inline]] void WriteLoneBreaks(const TextBlock<Units>& block) {
    for (std::uint64_t lone = block.lone_breaks(); lone != 0; lone &= lone - 1) {
      const char* const at = block.base + LowestBit(lone);
      to_ = sink_.Break(Piece<kFar>(to_, run_, at));
      run_ = at + Units::kSize;
    }
  }

  /// A block in which every line that ends is dropped, or every one is
  /// replaced (the runs that the rule makes of a file of codes): its pieces
  /// go out without a walk over its lines. False, and nothing given, for any
  /// other block.
  [[gnu::always_inline]] bool WriteUniformBlock(const TextBlock<Units>& block,
                                                std::uint64_t ending, std::uint64_t line_marks) {
    // An edited line ends here; the marks of all fit the window, so the
    // shift below is under 64.
    assert(ending != 0 && ending <= kMarksPerWord && block.breaks != 0);
    const std::uint64_t ending_marks =
        ending == kMarksPerWord ? ~std::uint64_t{0} : (std::uint64_t{1} << ending * kMarkBits) - 1;
    const std::uint64_t dropped = 0x5555555555555555ull & ending_marks;
    const std::uint64_t block_marks = line_marks & ending_marks;
    if (block_marks != dropped && block_marks != dropped << 1) return false;
    if (run_ != line_begin_) to_ = Piece<false>(to_, run_, line_begin_);
    if (block_marks != dropped) {
      for (std::uint64_t k = 0; k < ending; ++k) to_ = sink_.Replaced(to_);
    }
    line_begin_ = run_ = block.AfterBreak(HighestBit(block.breaks));
    index_ += ending;
    return true;
  }

  /// A block whose breaks are all one unit long (LF, the common case of a
  /// program with LF breaks, or a lone CR), with the marks of the lines that
  /// end in it at hand: each line ends where the next begins.
  template <bool kFar>
  [[gnu::always_inline]] void WriteOneUnitBreakBlock(const TextBlock<Units>& block,
                                                     std::uint64_t ending,
                                                     std::uint64_t line_marks) {
    assert(block.crlf == 0 && ending <= kMarksPerWord);
    index_ += ending;
    for (std::uint64_t breaks = block.breaks; breaks != 0; breaks &= breaks - 1) {
      const char* const at = block.base + LowestBit(breaks);
      const auto mark = static_cast<LineMark>(line_marks & 3);
      line_marks >>= kMarkBits;
      if (mark == LineMark::kKept) {
        to_ = sink_.Break(Piece<kFar>(to_, run_, at));
      } else {
        WriteEditedLine<kFar>(mark);
      }
      run_ = line_begin_ = at + Units::kSize;
    }
  }

  /// Any other block: CR LF breaks, or more lines than one window of marks
  /// holds, which is moved on every kMarksPerWord lines.
  [[gnu::always_inline]] void WriteGeneralBlock(const TextBlock<Units>& block,
                                                std::uint64_t ending, std::uint64_t line_marks) {
    std::uint64_t window_end = index_ + kMarksPerWord;  // lines that line_marks reach
    unsigned marks_left = kMarksPerWord;
    index_ += ending;
    const std::uint64_t lone_breaks = block.lone_breaks();
    for (BlockLines<Units> ends(block); !ends.done();) {
      if (marks_left == 0) {
        line_marks = MarksFrom(window_end);
        window_end += kMarksPerWord;
        marks_left = kMarksPerWord;
      }
      const auto mark = static_cast<LineMark>(line_marks & 3);
      line_marks >>= kMarkBits;
      --marks_left;
      // Passed after the mark is read: in this order GCC 12 spends fewer
      // instructions on a line of a CR LF file (measured with callgrind).
      const unsigned offset = ends.offset();
      const char* const next = ends.Pass();
      if (mark != LineMark::kKept) {
        WriteEditedLine<false>(mark);
        run_ = next;
      } else if ((lone_breaks >> offset & 1) != 0) {
        to_ = sink_.Break(Piece<false>(to_, run_, block.base + offset));
        run_ = next;
      }
      line_begin_ = next;
    }
  }

  /// The last line, which has no break.
  [[gnu::always_inline]] void WriteLastLine() {
    const auto mark = next_edited_ == kNoLine ? LineMark::kKept
                                              : static_cast<LineMark>(MarksFrom(index_) & 3);
    if (mark == LineMark::kKept) {
      to_ = sink_.Break(Piece<false>(to_, run_, end_));
    } else {
      WriteEditedLine<false>(mark);
    }
    run_ = end_;
  }

  /// For the dropped or replaced line at line_begin_ (`mark`): gives the
  /// kept text before it, and the replacement text if it is replaced. The
  /// caller moves run_ past the line.
  template <bool kFar>
  [[gnu::always_inline]] void WriteEditedLine(LineMark mark) {
    assert(mark != LineMark::kKept);
    if (run_ != line_begin_) to_ = Piece<kFar>(to_, run_, line_begin_);
    if (mark == LineMark::kReplaced) to_ = sink_.Replaced(to_);
  }

  const LineList& list_;
  Sink& sink_;
  const char* const end_;
  const std::uint64_t* const marks_;
  const std::size_t mark_words_;
  char* to_;                       // the sink's cursor
  const char* run_;                // start of the text not given to the sink
  const char* line_begin_;         // start of line index_
  std::uint64_t index_ = 0;        // lines that end before the block
  std::uint64_t next_edited_ = 0;  // lines [index_, next_edited_) are kept
};

}  // namespace ncrewrite
