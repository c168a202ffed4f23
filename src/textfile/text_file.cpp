#include "textfile/text_file.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "textfile/file_failures.h"
#include "textfile/file_io.h"
#include "textfile/output_file.h"
#include "textfile/utf8.h"

namespace ncrewrite {
namespace {

const TextEncoding& DetectEncoding(std::string_view bytes) {
  for (const TextEncoding* marked : {&Utf8Encoding(), &Utf16LeEncoding(), &Utf16BeEncoding()}) {
    if (bytes.starts_with(marked->byte_order_mark)) return *marked;
  }
  return SystemCodePage();
}

/// Gathers output in large pieces: long stretches of the loaded text go to
/// the file as they are, short pieces (line content before a changed line
/// break, replaced lines) are copied into one buffer first.
class OutputBuffer {
 public:
  explicit OutputBuffer(OutputFile& file)
      : file_(file), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}

  void Put(const char* data, std::size_t size) {
    if (size >= kCapacity / 2) {
      Flush();
      file_.Write(data, size);
      return;
    }
    if (used_ + size > kCapacity) Flush();
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
  }
  void Put(std::string_view bytes) { Put(bytes.data(), bytes.size()); }

  void Flush() {
    if (used_ > 0) file_.Write(buffer_.get(), used_);
    used_ = 0;
  }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  OutputFile& file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

/// Writes the lines of a list stored in the output encoding. Lines that
/// already end in CR LF and follow each other in the loaded text are written
/// as one stretch; any other break becomes CR LF.
template <typename Units>
class LineWriter {
 public:
  LineWriter(OutputBuffer& out, const TextEncoding& encoding)
      : out_(out), line_break_(EncodeText(encoding, u"\r\n")) {}

  void Stored(const LineSpan& line) {
    if (line.begin != stretch_end_) Finish();
    if (stretch_begin_ == nullptr) stretch_begin_ = line.begin;
    if (EndsInCrLf<Units>(line)) {
      stretch_end_ = line.next;
      return;
    }
    stretch_end_ = line.end;
    Finish();
    out_.Put(line_break_);
  }

  void Replaced(std::string_view encoded) {
    Finish();
    out_.Put(encoded);
    out_.Put(line_break_);
  }

  /// Writes the pending stretch.
  void Finish() {
    if (stretch_begin_ != nullptr) {
      out_.Put(stretch_begin_, static_cast<std::size_t>(stretch_end_ - stretch_begin_));
    }
    stretch_begin_ = stretch_end_ = nullptr;
  }

 private:
  OutputBuffer& out_;
  std::string line_break_;
  const char* stretch_begin_ = nullptr;
  const char* stretch_end_ = nullptr;
};

void WriteStoredLines(const LineList& lines, OutputBuffer& out) {
  WithUnits(lines.stored_encoding().units, [&]<typename Units>(Units) {
    LineWriter<Units> writer(out, lines.stored_encoding());
    lines.VisitLines<Units>(writer);
    writer.Finish();
  });
}

/// The rare case of a list stored in another encoding than it is saved in
/// (its last load failed to decode): each line is converted.
void WriteConvertedLines(const LineList& lines, const TextEncoding& encoding,
                         OutputBuffer& out) {
  const std::string line_break = EncodeText(encoding, u"\r\n");
  for (const std::u16string& line : lines.DecodedLines()) {
    out.Put(EncodeText(encoding, line));
    out.Put(line_break);
  }
}

}  // namespace

void LoadTextFile(LineList& lines, const std::string& path) {
  FileContent file = ReadWholeFile(path);
  const std::string_view bytes(file.bytes.get(), static_cast<std::size_t>(file.size));
  const TextEncoding& encoding = DetectEncoding(bytes);
  lines.set_remembered_encoding(encoding);
  const std::uint64_t begin = encoding.byte_order_mark.size();
  std::uint64_t end = file.size;
  if (encoding.units != UnitFormat::kByte) {
    if (end - begin == 1) RaiseDecodingFailure();
    end -= (end - begin) % 2;  // an odd last byte is no code unit
  } else if (encoding.kind == TextEncoding::Kind::kUtf8 &&
             !IsWellFormedUtf8(bytes.substr(static_cast<std::size_t>(begin)))) {
    RaiseDecodingFailure();
  }
  lines.AssignText(encoding, std::move(file.bytes), begin, end);
}

void SaveTextFile(const LineList& lines, const std::string& path) {
  OutputFile file(path);
  const TextEncoding* remembered = lines.remembered_encoding();
  const TextEncoding& encoding = remembered != nullptr ? *remembered : SystemCodePage();
  OutputBuffer out(file);
  out.Put(encoding.byte_order_mark);
  if (&encoding == &lines.stored_encoding()) {
    WriteStoredLines(lines, out);
  } else {
    WriteConvertedLines(lines, encoding, out);
  }
  out.Flush();
  file.Commit();
}

}  // namespace ncrewrite
