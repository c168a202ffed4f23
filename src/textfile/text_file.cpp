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
    // Most pieces are one line or a line break: keep their path short.
    if (size <= kCapacity - used_ && size < kDirectSize) {
      std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
      return;
    }
    PutLarge(data, size);
  }
  void Put(std::string_view bytes) { Put(bytes.data(), bytes.size()); }

  /// Puts `size` bytes and then the `kBreakSize` bytes of `line_break`.
  template <std::size_t kBreakSize>
  void PutLine(const char* data, std::size_t size, const char (&line_break)[kBreakSize]) {
    if (size + kBreakSize <= kCapacity - used_) {
      CopyBytes(buffer_.get() + used_, data, size);
      std::memcpy(buffer_.get() + used_ + size, line_break, kBreakSize);
      used_ += size + kBreakSize;
      return;
    }
    Put(data, size);
    Put(line_break, kBreakSize);
  }

  void Flush() {
    if (used_ > 0) file_.Write(buffer_.get(), used_);
    used_ = 0;
  }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;
  static constexpr std::size_t kDirectSize = kCapacity / 2;

  /// Copies `size` bytes. Lines of a few bytes are copied by two
  /// overlapping moves of a fixed size, which is cheaper than a library
  /// call when there are tens of millions of them.
  static void CopyBytes(char* to, const char* from, std::size_t size) {
    if (size > 16) {
      std::memcpy(to, from, size);
    } else if (size >= 8) {
      CopyOverlapping<8>(to, from, size);
    } else if (size >= 4) {
      CopyOverlapping<4>(to, from, size);
    } else if (size >= 2) {
      CopyOverlapping<2>(to, from, size);
    } else if (size == 1) {
      *to = *from;
    }
  }

  /// Copies `size` bytes, kMove <= size <= 2 * kMove, as the first and the
  /// last kMove of them.
  template <std::size_t kMove>
  static void CopyOverlapping(char* to, const char* from, std::size_t size) {
    char head[kMove];
    char tail[kMove];
    std::memcpy(head, from, kMove);
    std::memcpy(tail, from + size - kMove, kMove);
    std::memcpy(to, head, kMove);
    std::memcpy(to + size - kMove, tail, kMove);
  }

  void PutLarge(const char* data, std::size_t size) {
    if (size >= kDirectSize) {
      Flush();
      file_.Write(data, size);
      return;
    }
    Flush();
    std::memcpy(buffer_.get(), data, size);
    used_ = size;
  }

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
  LineWriter(OutputBuffer& out, const TextEncoding& encoding) : out_(out) {
    EncodeText(encoding, u"\r\n").copy(line_break_, sizeof line_break_);
  }

  void Stored(const LineSpan& line) {
    if (line.begin != stretch_end_) Finish();
    if (stretch_begin_ == nullptr) stretch_begin_ = line.begin;
    stretch_end_ = line.next;
    if (EndsInCrLf<Units>(line)) return;
    // The stretch and this line's content are one piece of the loaded text.
    out_.PutLine(stretch_begin_, static_cast<std::size_t>(line.end - stretch_begin_), line_break_);
    stretch_begin_ = nullptr;
  }

  void Replaced(std::string_view encoded) {
    Finish();
    out_.PutLine(encoded.data(), encoded.size(), line_break_);
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
  char line_break_[2 * Units::kSize];
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
  FileBytes file = ViewWholeFile(path);
  const std::string_view bytes(file.data(), static_cast<std::size_t>(file.size()));
  const TextEncoding& encoding = DetectEncoding(bytes);
  lines.set_remembered_encoding(encoding);
  const std::uint64_t begin = encoding.byte_order_mark.size();
  std::uint64_t end = file.size();
  if (encoding.units != UnitFormat::kByte) {
    if (end - begin == 1) RaiseDecodingFailure();
    end -= (end - begin) % 2;  // an odd last byte is no code unit
  } else if (encoding.kind == TextEncoding::Kind::kUtf8 &&
             !IsWellFormedUtf8(bytes.substr(static_cast<std::size_t>(begin)))) {
    RaiseDecodingFailure();
  }
  lines.AssignText(encoding, std::move(file), begin, end);
}

void SaveTextFile(const LineList& lines, const std::string& path) {
  OutputFile file(path, lines.stored_bytes());
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
  // The loaded file may have changed while it was written out from.
  lines.stored_bytes().CheckUnchanged();
  file.Commit();
}

}  // namespace ncrewrite
