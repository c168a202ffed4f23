#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textfile/line_scan.h"
#include "textfile/text_encoding.h"

namespace ncrewrite {

/// The lines of one program file, in file order.
///
/// A line list keeps the file's text as it was loaded, in its stored
/// encoding, and its lines as positions in that text: loading a program of
/// hundreds of MB makes no object per line. Rewriting records edits instead
/// of moving lines: lines dropped and lines replaced by a new text, each named
/// by the offset of its first byte. Saving walks the text once and applies
/// the edits on the way.
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
  /// `buffer`, whose units are those of `stored`.
  void AssignText(const TextEncoding& stored, std::unique_ptr<char[]> buffer,
                  std::uint64_t begin, std::uint64_t end);

  /// Every line as text. For inspection and tests; not for large files.
  std::vector<std::u16string> DecodedLines() const;

  /// The encoding that the stored text and replacement texts are in.
  const TextEncoding& stored_encoding() const noexcept { return *stored_; }
  const char* text_begin() const noexcept { return buffer_.get() + begin_; }
  const char* text_end() const noexcept { return buffer_.get() + end_; }

  bool has_edits() const noexcept { return !dropped_.empty() || !replaced_.empty(); }

  /// Turns the current lines into plain stored text again, with no edits.
  void ApplyEdits();

  /// Drops the stored line that begins at `line`. Drops must be recorded in
  /// file order.
  void DropLine(const char* line);

  /// Adds a replacement text and returns its number for ReplaceLine.
  std::uint8_t AddReplacementText(std::u16string_view text);

  /// Replaces the stored line that begins at `line` by replacement text
  /// `text_number`. Replacements must be recorded in file order.
  void ReplaceLine(const char* line, std::uint8_t text_number);

  /// Calls `visitor.Stored(const LineSpan&)` for every stored line that is
  /// kept and `visitor.Replaced(std::string_view encoded)` for every replaced
  /// one, in order. `Units` must match the stored encoding.
  template <typename Units, typename Visitor>
  void VisitLines(Visitor& visitor) const;

 private:
  static constexpr unsigned kNumberBits = 8;

  std::uint64_t OffsetOf(const char* line) const {
    return static_cast<std::uint64_t>(line - buffer_.get());
  }

  const TextEncoding* remembered_ = nullptr;
  const TextEncoding* stored_;
  std::unique_ptr<char[]> buffer_;
  std::uint64_t begin_ = 0;
  std::uint64_t end_ = 0;
  std::deque<std::uint64_t> dropped_;   // offsets of dropped lines, ascending
  std::deque<std::uint64_t> replaced_;  // offset << kNumberBits | text number
  std::vector<std::string> replacement_texts_;  // encoded in *stored_
};

template <typename Units, typename Visitor>
void LineList::VisitLines(Visitor& visitor) const {
  auto next_drop = dropped_.begin();
  auto next_replace = replaced_.begin();
  LineReader<Units> reader(text_begin(), text_end());
  LineSpan line;
  while (reader.Next(line)) {
    const std::uint64_t offset = OffsetOf(line.begin);
    if (next_drop != dropped_.end() && *next_drop == offset) {
      ++next_drop;
    } else if (next_replace != replaced_.end() && (*next_replace >> kNumberBits) == offset) {
      visitor.Replaced(replacement_texts_[*next_replace & 0xFF]);
      ++next_replace;
    } else {
      visitor.Stored(line);
    }
  }
}

}  // namespace ncrewrite
