#pragma once

// Walking the lines of stored text without decoding it. Every supported
// encoding keeps CR, LF and the blanks U+0000..U+0020 as single code units of
// their own (UTF-8 only once validated), so lines can be split, trimmed and
// compared on the stored units directly.

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "textfile/text_encoding.h"

// NCREWRITE_NO_SSE2 builds the portable branches on x86-64 too, to test them.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(NCREWRITE_NO_SSE2)
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
  static constexpr bool kLowByteFirst = true;
  static char16_t At(const char* p) { return static_cast<unsigned char>(*p); }
  /// Stores `unit`, which is below U+0100.
  static void Put(char* p, char16_t unit) { *p = static_cast<char>(unit); }

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
  static constexpr bool kLowByteFirst = kLittleEndian;
  static char16_t At(const char* p) {
    const auto first = static_cast<unsigned char>(p[0]);
    const auto second = static_cast<unsigned char>(p[1]);
    return kLittleEndian ? static_cast<char16_t>(first | (second << 8))
                         : static_cast<char16_t>((first << 8) | second);
  }
  static void Put(char* p, char16_t unit) {
    const auto low = static_cast<char>(unit & 0xFF);
    const auto high = static_cast<char>(unit >> 8);
    p[0] = kLittleEndian ? low : high;
    p[1] = kLittleEndian ? high : low;
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

/// Number of set bits. Without the instruction for it (not in the x86-64
/// baseline) a library call would be made for every block.
inline unsigned CountBits(std::uint64_t bits) {
#if defined(__POPCNT__) || !defined(__x86_64__)
  return static_cast<unsigned>(std::popcount(bits));
#else
  bits -= (bits >> 1) & 0x5555555555555555ull;
  bits = (bits & 0x3333333333333333ull) + ((bits >> 2) & 0x3333333333333333ull);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<unsigned>((bits * 0x0101010101010101ull) >> 56);
#endif
}

/// Offset of the highest set bit of `bits`, which is not 0.
inline unsigned HighestBit(std::uint64_t bits) {
  return 63 - static_cast<unsigned>(std::countl_zero(bits));
}

/// Offset of the lowest set bit of `bits`, which is not 0.
inline unsigned LowestBit(std::uint64_t bits) {
  return static_cast<unsigned>(std::countr_zero(bits));
}

/// One block of 64 bytes of stored text, described by bit masks: bit k
/// stands for the unit that starts at byte k of the block (only every second
/// bit can be set for two-byte units).
template <typename Units>
struct TextBlock {
  static constexpr unsigned kStep = Units::kSize;
  /// The bit of the block's last unit.
  static constexpr std::uint64_t kLastUnit = std::uint64_t{1} << (64 - kStep);

  /// Where the block starts in the text.
  const char* base;
  /// Units at which a line break begins: every CR, and every LF that does
  /// not follow a CR.
  std::uint64_t breaks;
  /// The breaks that are CR LF, two units long.
  std::uint64_t crlf;

  /// The breaks that are a lone CR or a lone LF.
  std::uint64_t lone_breaks() const { return breaks & ~crlf; }
  /// Where the line that breaks at bit `offset` is followed by the next.
  const char* AfterBreak(unsigned offset) const {
    return base + offset + kStep + (crlf >> offset & 1) * kStep;
  }
};

/// The lines that end in one block, first to last: where the break of each
/// is, and where the line after it begins.
template <typename Units>
class BlockLines {
 public:
  explicit BlockLines(const TextBlock<Units>& block)
      : block_(block),
        breaks_(block.breaks),
        begins_(block.lone_breaks() << Units::kSize | block.crlf << 2 * Units::kSize) {}

  bool done() const { return breaks_ == 0; }
  /// The breaks not passed yet.
  std::uint64_t breaks() const { return breaks_; }
  /// Where the lines after them begin, but for one that begins past the
  /// block: the k-th begin belongs to the k-th break.
  std::uint64_t begins() const { return begins_; }
  /// Offset of the next break in the block; not done().
  unsigned offset() const {
    assert(!done());
    return LowestBit(breaks_);
  }

  /// Passes the next break, and gives where the line after it begins.
  const char* Pass() {
    const unsigned at = offset();
    const char* next;
    if (begins_ != 0) {
      next = block_.base + LowestBit(begins_);
      begins_ &= begins_ - 1;
    } else {
      next = block_.AfterBreak(at);
    }
    assert(next == block_.AfterBreak(at));
    breaks_ &= breaks_ - 1;
    return next;
  }

  /// Passes every break left.
  void PassAll() { breaks_ = begins_ = 0; }

 private:
  // A copy: with a reference the block would have to stay in memory, where
  // every store through a char pointer may alias it.
  const TextBlock<Units> block_;
  std::uint64_t breaks_;
  std::uint64_t begins_;
};

/// The stored text cut into blocks of 64 bytes. Whole-file passes use the
/// masks of a block to find its line breaks and its few interesting units at
/// once, and to pass blocks in which nothing is to be done, instead of
/// walking the text line by line. The last block is read from a copy padded
/// with NUL units, which match nothing that is looked for.
template <typename Units>
class TextBlocks {
 public:
  static constexpr std::size_t kBytes = 64;
  static constexpr unsigned kStep = Units::kSize;
  static constexpr std::uint64_t kLastUnit = TextBlock<Units>::kLastUnit;

  /// `end - begin` is a multiple of the unit size.
  TextBlocks(const char* begin, const char* end) : next_(begin), end_(end) {}

  /// Moves to the next block and describes it in `block`; false when the
  /// text has no more.
  bool Next(TextBlock<Units>& block) {
    if (next_ >= end_) return false;
    block.base = next_;
    if (static_cast<std::size_t>(end_ - next_) >= kBytes) {
      Load(next_);
      next_ += kBytes;
    } else {
      std::memset(tail_, 0, sizeof tail_);
      std::memcpy(tail_, next_, static_cast<std::size_t>(end_ - next_));
      Load(tail_);
      next_ = end_;
    }
    const std::uint64_t cr = Find(kCr);
    const std::uint64_t lf = Find(kLf);
    // A CR LF that straddles two blocks is seen from both sides: its LF
    // starts no break, and its CR is told by the unit after the block.
    const std::uint64_t lf_after_cr = lf & ((cr << kStep) | cr_before_);
    const bool cr_last = (cr & kLastUnit) != 0;
    const std::uint64_t lf_next = (lf >> kStep) | (cr_last && FollowedBy(kLf) ? kLastUnit : 0);
    block.breaks = cr | (lf & ~lf_after_cr);
    block.crlf = cr & lf_next;
    cr_before_ = cr_last ? 1 : 0;
    return true;
  }

  /// The units of the current block that equal `unit`, a unit below U+0100.
  /// With `kRare`, for a unit that most blocks lack, the whole block is
  /// ruled out first.
  template <bool kRare = false>
  std::uint64_t Find(char16_t unit) const {
#ifdef NCREWRITE_HAVE_SSE2
    __m128i a, b, c, d;
    if constexpr (kStep == 1) {
      const __m128i wanted = _mm_set1_epi8(static_cast<char>(unit));
      a = _mm_cmpeq_epi8(block_[0], wanted);
      b = _mm_cmpeq_epi8(block_[1], wanted);
      c = _mm_cmpeq_epi8(block_[2], wanted);
      d = _mm_cmpeq_epi8(block_[3], wanted);
    } else {
      // A unit loaded the other way round compares with the swapped value.
      char stored[2];
      Units::Put(stored, unit);
      short loaded;
      std::memcpy(&loaded, stored, sizeof loaded);
      const __m128i wanted = _mm_set1_epi16(loaded);
      a = _mm_cmpeq_epi16(block_[0], wanted);
      b = _mm_cmpeq_epi16(block_[1], wanted);
      c = _mm_cmpeq_epi16(block_[2], wanted);
      d = _mm_cmpeq_epi16(block_[3], wanted);
    }
    if constexpr (kRare) {
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) return 0;
    }
    // Both bytes of a matching two-byte unit are set; the first is kept.
    return Combine(a, b, c, d) & (kStep == 1 ? ~std::uint64_t{0} : 0x5555555555555555ull);
#else
    std::uint64_t mask = 0;
    for (std::size_t k = 0; k < kBytes; k += kStep) {
      if (Units::At(block_ + k) == unit) mask |= std::uint64_t{1} << k;
    }
    return mask;
#endif
  }

  /// True when the unit right after the current block is `unit`.
  bool FollowedBy(char16_t unit) const {
    return end_ - next_ >= static_cast<std::ptrdiff_t>(kStep) && Units::At(next_) == unit;
  }

  /// The units of the current block that `unit` follows, the next block's
  /// first unit included.
  std::uint64_t Before(char16_t unit) const {
    return Find(unit) >> kStep | (FollowedBy(unit) ? kLastUnit : 0);
  }

 private:
#ifdef NCREWRITE_HAVE_SSE2
  static std::uint64_t Combine(__m128i a, __m128i b, __m128i c, __m128i d) {
    const auto bits = [](__m128i hits) {
      return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))};
    };
    return bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
  }
#endif

  void Load(const char* bytes) {
#ifdef NCREWRITE_HAVE_SSE2
    block_[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    block_[1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16));
    block_[2] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 32));
    block_[3] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 48));
#else
    std::memcpy(block_, bytes, kBytes);
#endif
  }

  const char* next_;
  const char* end_;
#ifdef NCREWRITE_HAVE_SSE2
  __m128i block_[4];
#else
  char block_[kBytes];
#endif
  alignas(16) char tail_[kBytes];
  std::uint64_t cr_before_ = 0;
};

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
