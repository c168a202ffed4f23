#include "textfile/line_list.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace ncrewrite {
namespace {

/// Collects lines as stored text with CR LF after each.
class StoredTextBuilder {
 public:
  explicit StoredTextBuilder(const TextEncoding& encoding)
      : line_break_(EncodeText(encoding, u"\r\n")) {}

  void SetReplacementText(std::string_view encoded) { replacement_ = encoded; }
  // The text grows by appending: there is no cursor.
  char* Begin() { return nullptr; }
  char* Room(char* to) { return to; }
  void End(char*) {}
  char* ShortText(char* to, const char* begin, const char* end) { return Text(to, begin, end); }
  char* LineText(char* to, const char* begin, const char* end) { return Text(to, begin, end); }
  char* Text(char* to, const char* begin, const char* end) {
    text_.append(begin, static_cast<std::size_t>(end - begin));
    return to;
  }
  char* Break(char* to) {
    text_.append(line_break_);
    return to;
  }
  char* Replaced(char* to) {
    text_.append(replacement_);
    return Break(to);
  }
  std::string& text() { return text_; }

 private:
  std::string line_break_;
  std::string_view replacement_;
  std::string text_;
};

template <typename Units>
class LineDecoder {
 public:
  explicit LineDecoder(const TextEncoding& encoding) : encoding_(encoding) {}

  void Stored(const LineSpan& line) {
    Replaced(std::string_view(line.begin, static_cast<std::size_t>(line.end - line.begin)));
  }
  void Replaced(std::string_view encoded) { lines_.push_back(DecodeText(encoding_, encoded)); }
  std::vector<std::u16string>& lines() { return lines_; }

 private:
  const TextEncoding& encoding_;
  std::vector<std::u16string> lines_;
};

FileBytes CopyToBytes(std::string_view text) {
  auto buffer = std::make_unique_for_overwrite<char[]>(text.size());
  text.copy(buffer.get(), text.size());
  return FileBytes(std::move(buffer), text.size());
}

}  // namespace

LineList::LineList() : stored_(&StoredEncodingOf(SystemCodePage())) {}

LineList LineList::FromLines(const TextEncoding& encoding,
                             const std::vector<std::u16string>& lines) {
  const TextEncoding& stored = StoredEncodingOf(encoding);
  std::string text;
  for (const std::u16string& line : lines) {
    text += EncodeText(stored, line);
    text += EncodeText(stored, u"\r\n");
  }
  LineList list;
  list.set_remembered_encoding(encoding);
  list.AssignText(stored, CopyToBytes(text), 0, text.size());
  return list;
}

void LineList::AssignText(const TextEncoding& stored, FileBytes bytes, std::uint64_t begin,
                          std::uint64_t end) {
  stored_ = &stored;
  bytes_ = std::move(bytes);
  begin_ = begin;
  end_ = end;
  marks_.clear();
  marks_.shrink_to_fit();
}

std::vector<std::u16string> LineList::DecodedLines() const {
  return WithUnits(stored_->units, [this]<typename Units>(Units) {
    LineDecoder<Units> decoder(*stored_);
    VisitLines<Units>(decoder);
    return std::move(decoder.lines());
  });
}

std::string LineList::JoinedText() const {
  return WithUnits(stored_->units, [this]<typename Units>(Units) {
    StoredTextBuilder builder(*stored_);
    WriteLines<Units>(builder);
    return std::move(builder.text());
  });
}

void LineList::ApplyEdits() {
  if (!has_edits()) return;
  const std::string text = JoinedText();
  AssignText(*stored_, CopyToBytes(text), 0, text.size());
}

void LineList::ReleaseFileView() {
  if (!bytes_.is_view()) return;
  bytes_.ReleaseView();
  AssignText(*stored_, FileBytes(), 0, 0);
}

void LineList::SetReplacementText(std::u16string_view text) {
  replacement_text_ = EncodeText(*stored_, text);
}

std::uint64_t LineList::FirstEditedFrom(std::uint64_t index) const {
  auto word = static_cast<std::size_t>(index / kMarksPerWord);
  if (word >= marks_.size()) return kNoLine;
  const std::uint64_t rest = marks_[word] >> (index % kMarksPerWord * kMarkBits);
  if (rest != 0) return index + static_cast<unsigned>(std::countr_zero(rest)) / kMarkBits;
  while (++word < marks_.size()) {
    if (marks_[word] != 0) {
      return word * std::uint64_t{kMarksPerWord} +
             static_cast<unsigned>(std::countr_zero(marks_[word])) / kMarkBits;
    }
  }
  return kNoLine;
}

void LineList::GrowMarks(std::size_t word) {
  marks_.resize(std::max(word + 1, marks_.size() * 2));
}

}  // namespace ncrewrite
