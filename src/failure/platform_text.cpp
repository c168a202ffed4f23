#include "failure/platform_text.h"

#include <cstdint>

namespace ncrewrite {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::size_t SequenceLength(char32_t code) {
  if (code < 0x80) return 1;
  if (code < 0x800) return 2;
  if (code < 0x10000) return 3;
  return 4;
}

/// Writes the SequenceLength(code) bytes of `code` to `out`.
void WriteSequence(char32_t code, char* out) {
  const auto byte = [&out](char32_t value) { *out++ = static_cast<char>(value); };
  switch (SequenceLength(code)) {
    case 1:
      byte(code);
      break;
    case 2:
      byte(0xC0 | code >> 6);
      byte(0x80 | (code & 0x3F));
      break;
    case 3:
      byte(0xE0 | code >> 12);
      byte(0x80 | (code >> 6 & 0x3F));
      byte(0x80 | (code & 0x3F));
      break;
    default:
      byte(0xF0 | code >> 18);
      byte(0x80 | (code >> 12 & 0x3F));
      byte(0x80 | (code >> 6 & 0x3F));
      byte(0x80 | (code & 0x3F));
  }
}

/// The code point of the well-formed WTF-8 sequence at the start of
/// `text`, and its length in bytes; length 0 when there is none there.
struct Decoded {
  char32_t code;
  std::size_t length;
};
Decoded DecodeSequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;  // below it the form is overlong
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (text.size() < length) return {0, 0};
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    code = code << 6 | (next & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF) return {0, 0};
  return {code, length};
}

// The most that one code unit gives in WTF-8 (a pair gives four bytes for
// two), and that one byte gives in UTF-16.
constexpr std::size_t kMaxBytesPerUnit = 3;
constexpr std::size_t kMaxUnitsPerByte = 1;

}  // namespace

std::size_t Wtf8FromUtf16(std::u16string_view units, std::span<char> out) noexcept {
  std::size_t length = 0;
  for (std::size_t k = 0; k < units.size(); ++k) {
    char32_t code = units[k];
    const bool pair = IsHighSurrogate(code) && k + 1 < units.size() && IsLowSurrogate(units[k + 1]);
    if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (units[k + 1] - 0xDC00u);
    // A lone surrogate is written as it is: that is what WTF-8 adds.
    const std::size_t size = SequenceLength(code);
    if (size > out.size() - length) break;
    WriteSequence(code, out.data() + length);
    length += size;
    if (pair) ++k;
  }
  return length;
}

std::size_t Utf16FromWtf8(std::string_view text, std::span<char16_t> out) noexcept {
  std::size_t length = 0;
  while (!text.empty()) {
    const Decoded decoded = DecodeSequence(text);
    const char32_t code = decoded.length == 0 ? kReplacement : decoded.code;
    if (code >= 0x10000) {
      if (out.size() - length < 2) break;
      out[length++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out[length++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      if (out.size() == length) break;
      out[length++] = static_cast<char16_t>(code);
    }
    text.remove_prefix(decoded.length == 0 ? 1 : decoded.length);
  }
  return length;
}

std::string Wtf8FromUtf16(std::u16string_view units) {
  std::string out(units.size() * kMaxBytesPerUnit, '\0');
  out.resize(Wtf8FromUtf16(units, out));
  return out;
}

std::u16string Utf16FromWtf8(std::string_view text) {
  std::u16string units(text.size() * kMaxUnitsPerByte, u'\0');
  units.resize(Utf16FromWtf8(text, units));
  return units;
}

}  // namespace ncrewrite
