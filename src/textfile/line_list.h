#pragma once

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
  FileBytes& stored_bytes() const noexcept { return bytes_; }

  bool has_edits() const noexcept { return !marks_.empty(); }

  /// Turns the current lines into plain stored text again, with no edits.
  void ApplyEdits();

  /// What becomes of a stored line.
  enum class LineMark : std::uint8_t { kKept = 0, kDropped = 1, kReplaced = 2 };

  /// Sets the text that every line marked kReplaced gets.
  void SetReplacementText(std::u16string_view text);

  /// Marks stored line number `index` (counted from 0 in the stored text,
  /// whatever was marked before). Lines may be marked in any order.
  void MarkLine(std::uint64_t index, LineMark mark) {
    const auto word = static_cast<std::size_t>(index / kMarksPerWord);
    if (word >= marks_.size()) GrowMarks(word);
    const unsigned shift = index % kMarksPerWord * kMarkBits;
    marks_[word] = (marks_[word] & ~(std::uint64_t{3} << shift)) |
                   std::uint64_t{static_cast<std::uint8_t>(mark)} << shift;
  }

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

  LineMark MarkOf(std::uint64_t index) const {
    const std::uint64_t word = marks_[static_cast<std::size_t>(index / kMarksPerWord)];
    return static_cast<LineMark>(word >> (index % kMarksPerWord * kMarkBits) & 3);
  }

  const TextEncoding* remembered_ = nullptr;
  const TextEncoding* stored_;
  mutable FileBytes bytes_;
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

}  // namespace ncrewrite
