#include "textfile/utf8.h"

#include <cstdint>
#include <cstring>

namespace ncrewrite {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

/// Checks the multi-byte sequence that starts at `p` (a byte of 0x80 or more)
/// and returns its length, or 0 when it is ill-formed.
std::size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  std::size_t length = 0;
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_min = 0xA0;  // overlong
    if (lead == 0xED) second_max = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_min = 0x90;  // overlong
    if (lead == 0xF4) second_max = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length) return 0;
  if (p[1] < second_min || p[1] > second_max) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!IsContinuation(p[k])) return 0;
  }
  return length;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    // Machine programs are almost all ASCII: skip it 32 bytes, or at least
    // eight, at a time.
    if (end - p >= 32) {
      std::uint64_t words[4];
      std::memcpy(words, p, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) == 0) {
        p += 32;
        continue;
      }
    }
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & kHighBits) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t length = SequenceLength(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

}  // namespace ncrewrite
