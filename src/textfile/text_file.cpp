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

const TextEncoding& DetectEncoding(std::string_view bytes, const TextEncoding& unmarked) {
  for (const TextEncoding* marked : {&Utf8Encoding(), &Utf16LeEncoding(), &Utf16BeEncoding()}) {
    if (bytes.starts_with(marked->byte_order_mark)) return *marked;
  }
  return unmarked;
}

/// `text` as the bytes of UTF-16LE, for a list to keep.
FileBytes Utf16LeBytes(std::u16string_view text) {
  const std::size_t size = 2 * text.size();
  auto bytes = std::make_unique_for_overwrite<char[]>(size);
  for (std::size_t k = 0; k < text.size(); ++k) {
    bytes[2 * k] = static_cast<char>(text[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(text[k] >> 8);
  }
  return FileBytes(std::move(bytes), size);
}

/// Gathers output in large pieces: long stretches of the loaded text go to
/// the file as they are, short pieces (kept lines before a changed line
/// break, replaced lines, line breaks) are copied into one buffer first.
/// Without a file it only counts the bytes, to learn the size beforehand.
class OutputBuffer {
 public:
  explicit OutputBuffer(OutputFile* file)
      : file_(file), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}

  void Put(const char* data, std::size_t size) {
    if (size <= kCapacity - used_ && size < kDirectSize) {
      std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
      return;
    }
    PutLarge(data, size);
  }
  void Put(std::string_view bytes) { Put(bytes.data(), bytes.size()); }

  /// The end of the output, with room for `size` bytes after it (flushed
  /// first when there is less): a cursor to write through, handed back by
  /// CommitTo before any other call.
  char* Cursor(std::size_t size) {
    if (kCapacity - used_ < size) Flush();
    return buffer_.get() + used_;
  }
  void CommitTo(const char* cursor) { used_ = static_cast<std::size_t>(cursor - buffer_.get()); }
  std::size_t RoomAt(const char* cursor) const {
    return static_cast<std::size_t>(buffer_.get() + kCapacity - cursor);
  }

  void Flush() {
    if (used_ > 0) Deliver(buffer_.get(), used_);
    used_ = 0;
  }

  /// The number of bytes delivered so far.
  std::uint64_t delivered() const { return delivered_; }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;
  static constexpr std::size_t kDirectSize = kCapacity / 2;

  void Deliver(const char* data, std::size_t size) {
    if (file_ != nullptr) file_->Write(data, size);
    delivered_ += size;
  }

  void PutLarge(const char* data, std::size_t size) {
    if (size >= kDirectSize) {
      Flush();
      Deliver(data, size);
      return;
    }
    Flush();
    std::memcpy(buffer_.get(), data, size);
    used_ = size;
  }

  OutputFile* file_;  // null: counting only
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t delivered_ = 0;
};

/// Copies 16 bytes, of which the caller uses the first few.
inline void Copy16(char* to, const char* from) {
  char block[16];
  std::memcpy(block, from, sizeof block);
  std::memcpy(to, block, sizeof block);
}

/// Writes the lines of a list stored in the output encoding, as the pieces
/// that LineList::WriteLines gives. There are tens of millions of short
/// pieces in a file of short lines, so these are copied in fixed widths.
template <typename Units>
class LineWriter {
 public:
  LineWriter(OutputBuffer& out, const TextEncoding& encoding) : out_(out) {
    EncodeText(encoding, u"\r\n").copy(line_break_, sizeof line_break_);
  }

  void SetReplacementText(std::string_view encoded) {
    replaced_.assign(encoded);
    replaced_.append(line_break_, kBreakSize);
    short_replaced_ = replaced_.size() <= sizeof padded_replaced_;
    if (short_replaced_) replaced_.copy(padded_replaced_, replaced_.size());
  }

  /// A cursor with room for the short pieces of a block of (up to 64)
  /// lines: each line gives at most a break and a replaced line, copied 32
  /// bytes wide at most; the short pieces of text of a block are stored text
  /// that no earlier block gave, of which only the first may begin before
  /// the block and none is longer than 64 bytes, and the last may be copied
  /// 64 bytes wide.
  char* Begin() { return out_.Cursor(kBlockRoom); }
  char* Room(char* to) {
    if (out_.RoomAt(to) >= kBlockRoom) return to;
    out_.CommitTo(to);
    return out_.Cursor(kBlockRoom);
  }
  void End(char* to) { out_.CommitTo(to); }

  char* ShortText(char* to, const char* begin, const char* end) {
    Copy16(to, begin);
    return to + (end - begin);
  }
  char* LineText(char* to, const char* begin, const char* end) {
    for (std::size_t k = 0; k < 64; k += 16) Copy16(to + k, begin + k);
    return to + (end - begin);
  }
  char* Text(char* to, const char* begin, const char* end) {
    out_.CommitTo(to);
    out_.Put(begin, static_cast<std::size_t>(end - begin));
    return out_.Cursor(kBlockRoom);
  }

  char* Break(char* to) {
    std::memcpy(to, line_break_, sizeof line_break_);
    return to + kBreakSize;
  }

  char* Replaced(char* to) {
    if (!short_replaced_) [[unlikely]] return LongReplaced(to);
    Copy16(to, padded_replaced_);
    Copy16(to + 16, padded_replaced_ + 16);
    return to + replaced_.size();
  }

 private:
  /// A replacement too long for the padded copy goes through the buffer.
  /// Kept out of line, so that the short path stays small enough to be
  /// inlined into every block writer.
  [[gnu::noinline]] char* LongReplaced(char* to) {
    out_.CommitTo(to);
    out_.Put(replaced_);
    return out_.Cursor(kBlockRoom);
  }

  static constexpr std::size_t kBreakSize = 2 * Units::kSize;
  static constexpr std::size_t kBlockRoom = 64 * (16 + 4 + 32) + 32;

  OutputBuffer& out_;
  char line_break_[4] = {};
  std::string replaced_;  // the replacement text and a line break
  bool short_replaced_ = false;
  char padded_replaced_[32] = {};
};

void WriteStoredLines(const LineList& lines, OutputBuffer& out) {
  WithUnits(lines.stored_encoding().units, [&]<typename Units>(Units) {
    LineWriter<Units> writer(out, lines.stored_encoding());
    lines.WriteLines<Units>(writer);
  });
}

/// A list stored in another encoding than it is saved in: one loaded in a
/// code page whose bytes it does not keep, or one whose last load failed to
/// decode. The whole text is converted in one piece.
void WriteConvertedLines(const LineList& lines, const TextEncoding& encoding,
                         OutputBuffer& out) {
  out.Put(EncodeText(encoding, DecodeText(lines.stored_encoding(), lines.JoinedText())));
}

/// Gives `out` the whole content that `lines` are saved as, and flushes it.
void WriteContent(const LineList& lines, const TextEncoding& encoding, OutputBuffer& out) {
  out.Put(encoding.byte_order_mark);
  if (&encoding == &lines.stored_encoding()) {
    WriteStoredLines(lines, out);
  } else {
    WriteConvertedLines(lines, encoding, out);
  }
  out.Flush();
}

}  // namespace

void LoadTextFile(LineList& lines, const std::string& path) {
  LoadTextBytes(lines, ViewWholeFile(path));
}

void LoadTextBytes(LineList& lines, FileBytes file, const TextEncoding& unmarked) {
  const std::string_view bytes(file.data(), static_cast<std::size_t>(file.size()));
  const TextEncoding& encoding = DetectEncoding(bytes, unmarked);
  lines.set_remembered_encoding(encoding);
  const std::uint64_t begin = encoding.byte_order_mark.size();
  std::uint64_t end = file.size();
  if (!encoding.keeps_bytes) {
    // Its bytes cannot be walked as lines: the whole text is decoded, which
    // never fails, and kept as UTF-16LE.
    FileBytes text =
        Utf16LeBytes(DecodeText(encoding, bytes.substr(static_cast<std::size_t>(begin))));
    const std::uint64_t size = text.size();
    lines.AssignText(StoredEncodingOf(encoding), std::move(text), 0, size);
    return;
  }
  if (encoding.units != UnitFormat::kByte) {
    if (end - begin == 1) RaiseDecodingFailure();
    end -= (end - begin) % 2;  // an odd last byte is no code unit
  } else if (encoding.kind == TextEncoding::Kind::kUtf8 &&
             !IsWellFormedUtf8(bytes.substr(static_cast<std::size_t>(begin)))) {
    RaiseDecodingFailure();
  }
  lines.AssignText(encoding, std::move(file), begin, end);
}

void SaveTextFile(LineList& lines, const std::string& path, SaveTarget target) {
  OutputFile file(path, lines.stored_bytes(), target == SaveTarget::kTheLoadedFile);
  const TextEncoding* remembered = lines.remembered_encoding();
  const TextEncoding& encoding = remembered != nullptr ? *remembered : SystemCodePage();
  if (file.needs_room()) {
    // Rare enough (written in place) that learning the size by a pass of
    // its own costs nothing that matters.
    OutputBuffer counter(nullptr);
    WriteContent(lines, encoding, counter);
    file.MakeRoom(counter.delivered());
  }
  OutputBuffer out(&file);
  WriteContent(lines, encoding, out);
  file.Seal();
  // The last step before the output takes its place, once the content is
  // flushed and has its permissions: the loaded file may have changed while
  // it was written out from, and a change until here is told, not lost.
  lines.ReleaseFileView();
  file.PutInPlace();
}

}  // namespace ncrewrite
