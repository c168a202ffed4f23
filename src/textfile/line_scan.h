#pragma once

// Walking the lines of stored text without decoding it. Every supported
// encoding keeps CR, LF and the blanks U+0000..U+0020 as single code units of
// their own (UTF-8 only once validated), so lines can be split, trimmed and
// compared on the stored units directly.

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "textfile/text_encoding.h"

namespace ncrewrite {

inline constexpr char16_t kCr = u'\r';
inline constexpr char16_t kLf = u'\n';

/// One line of stored text: its content [begin, end), without the line
/// break, and where the next line begins (after the break).
struct LineSpan {
  const char* begin;
  const char* end;
  const char* next;
};

struct ByteUnits {
  static constexpr std::size_t kSize = 1;
  static char16_t At(const char* p) { return static_cast<unsigned char>(*p); }

  /// First CR or LF in [p, end), or end. Eight bytes at a time, since most of
  /// a program's bytes are line content.
  static const char* FindBreak(const char* p, const char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const std::uint64_t cr = word ^ (kOnes * '\r');
      const std::uint64_t lf = word ^ (kOnes * '\n');
      const std::uint64_t hits = ((cr - kOnes) & ~cr & kHigh) | ((lf - kOnes) & ~lf & kHigh);
      if (hits != 0) return p + std::countr_zero(hits) / 8;
      p += 8;
    }
    while (p < end && *p != '\r' && *p != '\n') ++p;
    return p;
  }

  /// First unit above U+0020 in [p, end), or end.
  static const char* SkipBlanks(const char* p, const char* end) {
    constexpr std::uint64_t kLow = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kAbove20 = 0x5F5F5F5F5F5F5F5Full;  // 0x21 + 0x5F = 0x80
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((((word & kLow) + kAbove20) | word) & kHigh) break;
      p += 8;
    }
    while (p < end && static_cast<unsigned char>(*p) <= 0x20) ++p;
    return p;
  }
};

template <bool kLittleEndian>
struct Utf16Units {
  static constexpr std::size_t kSize = 2;
  static char16_t At(const char* p) {
    const auto first = static_cast<unsigned char>(p[0]);
    const auto second = static_cast<unsigned char>(p[1]);
    return kLittleEndian ? static_cast<char16_t>(first | (second << 8))
                         : static_cast<char16_t>((first << 8) | second);
  }
  static const char* FindBreak(const char* p, const char* end) {
    while (p < end) {
      const char16_t unit = At(p);
      if (unit == kCr || unit == kLf) return p;
      p += kSize;
    }
    return end;
  }
  static const char* SkipBlanks(const char* p, const char* end) {
    while (p < end && At(p) <= u' ') p += kSize;
    return p;
  }
};

using Utf16LeUnits = Utf16Units<true>;
using Utf16BeUnits = Utf16Units<false>;

/// Reads lines one after another by the splitting rule: a line ends at CR LF,
/// at a lone CR or at a lone LF; a break at the very end makes no empty last
/// line; an empty text has no lines.
template <typename Units>
class LineReader {
 public:
  LineReader(const char* begin, const char* end) : p_(begin), end_(end) {}

  /// Fills `line` with the next line; false when there is none left.
  bool Next(LineSpan& line) {
    if (p_ >= end_) return false;
    line.begin = p_;
    line.end = Units::FindBreak(p_, end_);
    p_ = line.end;
    if (p_ < end_ && Units::At(p_) == kCr) p_ += Units::kSize;
    if (p_ < end_ && Units::At(p_) == kLf) p_ += Units::kSize;
    line.next = p_;
    return true;
  }

  const char* position() const { return p_; }

 private:
  const char* p_;
  const char* end_;
};

/// True when the line ends in exactly CR LF, the break every saved line gets.
template <typename Units>
bool EndsInCrLf(const LineSpan& line) {
  return line.next - line.end == 2 * Units::kSize && Units::At(line.end) == kCr &&
         Units::At(line.end + Units::kSize) == kLf;
}

/// True when the line, with every unit up to U+0020 trimmed from both ends,
/// equals `literal` unit for unit. `literal` must begin and end with a unit
/// above U+0020. Lines of blanks are skipped in large steps, so that a
/// program with a huge blank line costs no more than one pass over it.
template <typename Units>
bool LineReads(const LineSpan& line, std::u16string_view literal) {
  const char* p = Units::SkipBlanks(line.begin, line.end);
  if (static_cast<std::size_t>(line.end - p) < literal.size() * Units::kSize) return false;
  for (const char16_t unit : literal) {
    if (Units::At(p) != unit) return false;
    p += Units::kSize;
  }
  return Units::SkipBlanks(p, line.end) == line.end;
}

/// Calls `fn` with the unit traits of `format`, so that line walks are
/// compiled once per stored format.
template <typename Fn>
decltype(auto) WithUnits(UnitFormat format, Fn&& fn) {
  switch (format) {
    case UnitFormat::kUtf16Le:
      return fn(Utf16LeUnits{});
    case UnitFormat::kUtf16Be:
      return fn(Utf16BeUnits{});
    case UnitFormat::kByte:
      break;
  }
  return fn(ByteUnits{});
}

}  // namespace ncrewrite
