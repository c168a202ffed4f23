#include "failure/platform_text.h"

#include <cstdint>

namespace ncrewrite {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendSequence(std::string& out, char32_t code) {
  const auto byte = [&out](char32_t value) { out.push_back(static_cast<char>(value)); };
  if (code < 0x80) {
    byte(code);
  } else if (code < 0x800) {
    byte(0xC0 | code >> 6);
    byte(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    byte(0xE0 | code >> 12);
    byte(0x80 | (code >> 6 & 0x3F));
    byte(0x80 | (code & 0x3F));
  } else {
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

}  // namespace

std::string Wtf8FromUtf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t k = 0; k < units.size(); ++k) {
    const char32_t unit = units[k];
    if (IsHighSurrogate(unit) && k + 1 < units.size() && IsLowSurrogate(units[k + 1])) {
      AppendSequence(out, 0x10000 + ((unit - 0xD800) << 10) + (units[++k] - 0xDC00u));
    } else {
      AppendSequence(out, unit);  // a lone surrogate too: that is what WTF-8 adds
    }
  }
  return out;
}

std::u16string Utf16FromWtf8(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  while (!text.empty()) {
    const Decoded decoded = DecodeSequence(text);
    if (decoded.length == 0) {
      units.push_back(kReplacement);
      text.remove_prefix(1);
    } else if (decoded.code >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((decoded.code - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((decoded.code - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(decoded.code));
    }
    text.remove_prefix(decoded.length);
  }
  return units;
}

}  // namespace ncrewrite
