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

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define NCREWRITE_HAVE_SSE2 1
#endif

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

/// Position of the first unit in [p, end) that equals `cr` or `lf` when the
/// units are loaded as 16 bytes at a time, or the first position from which
/// fewer than 16 bytes are left. Most of a program's bytes are line content,
/// and the hard shapes have lines of a few units, so one block usually ends
/// the search.
template <typename Compare>
inline const char* FindBreakInBlocks(const char* p, const char* end, Compare compare) {
#ifdef NCREWRITE_HAVE_SSE2
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(compare(block)));
    if (hits != 0) return p + std::countr_zero(hits);
    p += 16;
  }
#else
  (void)end;
  (void)compare;
#endif
  return p;
}

struct ByteUnits {
  static constexpr std::size_t kSize = 1;
  static char16_t At(const char* p) { return static_cast<unsigned char>(*p); }

  /// First CR or LF in [p, end), or end.
  static const char* FindBreak(const char* p, const char* end) {
#ifdef NCREWRITE_HAVE_SSE2
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    p = FindBreakInBlocks(p, end, [&](__m128i block) {
      return _mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf));
    });
    if (end - p >= 16) return p;
#endif
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const std::uint64_t cr_bytes = word ^ (kOnes * '\r');
      const std::uint64_t lf_bytes = word ^ (kOnes * '\n');
      const std::uint64_t hits = ((cr_bytes - kOnes) & ~cr_bytes & kHigh) |
                                 ((lf_bytes - kOnes) & ~lf_bytes & kHigh);
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

  /// First CR or LF unit in [p, end), or end; `end - p` is even.
  static const char* FindBreak(const char* p, const char* end) {
#ifdef NCREWRITE_HAVE_SSE2
    // A unit loaded the other way round compares with the swapped value.
    const __m128i cr = _mm_set1_epi16(static_cast<short>(kLittleEndian ? 0x000D : 0x0D00));
    const __m128i lf = _mm_set1_epi16(static_cast<short>(kLittleEndian ? 0x000A : 0x0A00));
    p = FindBreakInBlocks(p, end, [&](__m128i block) {
      return _mm_or_si128(_mm_cmpeq_epi16(block, cr), _mm_cmpeq_epi16(block, lf));
    });
#endif
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

/// True when the units from `p` on are `literal` followed by nothing but
/// units up to U+0020 before `end`. `literal` must begin and end with a unit
/// above U+0020. Blanks are skipped in large steps, so that a program with a
/// huge blank line costs no more than one pass over it.
template <typename Units>
inline bool RestReads(const char* p, const char* end, std::u16string_view literal) {
  if (static_cast<std::size_t>(end - p) < literal.size() * Units::kSize) return false;
  for (const char16_t unit : literal) {
    if (Units::At(p) != unit) return false;
    p += Units::kSize;
  }
  return Units::SkipBlanks(p, end) == end;
}

/// True when the line, with every unit up to U+0020 trimmed from both ends,
/// equals `literal` unit for unit; `literal` as for RestReads.
template <typename Units>
bool LineReads(const LineSpan& line, std::u16string_view literal) {
  return RestReads<Units>(Units::SkipBlanks(line.begin, line.end), line.end, literal);
}

/// Number of units in [begin, end).
template <typename Units>
std::size_t UnitCount(const char* begin, const char* end) {
  return static_cast<std::size_t>(end - begin) / Units::kSize;
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
