#include "textfile/line_list.h"

#include <algorithm>
#include <utility>

namespace ncrewrite {
namespace {

/// Collects lines as stored text with CR LF after each.
template <typename Units>
class StoredTextBuilder {
 public:
  explicit StoredTextBuilder(const TextEncoding& encoding)
      : line_break_(EncodeText(encoding, u"\r\n")) {}

  void Stored(const LineSpan& line) { Add(std::string_view(line.begin, Length(line))); }
  void Replaced(std::string_view encoded) { Add(encoded); }
  std::string& text() { return text_; }

 private:
  static std::size_t Length(const LineSpan& line) {
    return static_cast<std::size_t>(line.end - line.begin);
  }
  void Add(std::string_view content) {
    text_.append(content);
    text_.append(line_break_);
  }

  std::string line_break_;
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

LineList::LineList() : stored_(&SystemCodePage()) {}

LineList LineList::FromLines(const TextEncoding& encoding,
                             const std::vector<std::u16string>& lines) {
  std::string text;
  for (const std::u16string& line : lines) {
    text += EncodeText(encoding, line);
    text += EncodeText(encoding, u"\r\n");
  }
  LineList list;
  list.set_remembered_encoding(encoding);
  list.AssignText(encoding, CopyToBytes(text), 0, text.size());
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

void LineList::ApplyEdits() {
  if (!has_edits()) return;
  std::string text = WithUnits(stored_->units, [this]<typename Units>(Units) {
    StoredTextBuilder<Units> builder(*stored_);
    VisitLines<Units>(builder);
    return std::move(builder.text());
  });
  AssignText(*stored_, CopyToBytes(text), 0, text.size());
}

void LineList::SetReplacementText(std::u16string_view text) {
  replacement_text_ = EncodeText(*stored_, text);
}

void LineList::GrowMarks(std::size_t word) {
  marks_.resize(std::max(word + 1, marks_.size() * 2));
}

}  // namespace ncrewrite
