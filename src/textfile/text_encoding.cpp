#include "textfile/text_encoding.h"

#include <array>

namespace ncrewrite {
namespace {

constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> MakeWindows1252Table() {
  std::array<char16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    table[byte] = (byte >= 0x80 && byte < 0xA0) ? kWindows1252High[byte - 0x80]
                                                : static_cast<char16_t>(byte);
  }
  return table;
}

constexpr std::array<char16_t, 256> kWindows1252 = MakeWindows1252Table();

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead
                    : length == 2 ? (lead & 0x1Fu)
                    : length == 3 ? (lead & 0x0Fu)
                                  : (lead & 0x07u);
    for (std::size_t k = 1; k < length && i + k < bytes.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return text;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::u16string DecodeUtf16(std::string_view bytes, bool little_endian) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto first = static_cast<unsigned char>(bytes[2 * k]);
    const auto second = static_cast<unsigned char>(bytes[2 * k + 1]);
    text[k] = little_endian ? static_cast<char16_t>(first | (second << 8))
                            : static_cast<char16_t>((first << 8) | second);
  }
  return text;
}

std::string EncodeUtf16(std::u16string_view text, bool little_endian) {
  std::string out(text.size() * 2, '\0');
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto low = static_cast<char>(text[k] & 0xFF);
    const auto high = static_cast<char>(text[k] >> 8);
    out[2 * k] = little_endian ? low : high;
    out[2 * k + 1] = little_endian ? high : low;
  }
  return out;
}

std::string EncodeSingleByte(const char16_t* table, std::u16string_view text) {
  std::string out(text.size(), '?');
  for (std::size_t k = 0; k < text.size(); ++k) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      if (table[byte] == text[k]) {
        out[k] = static_cast<char>(byte);
        break;
      }
    }
  }
  return out;
}

}  // namespace

const TextEncoding& Utf8Encoding() {
  static const TextEncoding encoding{"UTF-8", 65001, "\xEF\xBB\xBF",
                                     TextEncoding::Kind::kUtf8, UnitFormat::kByte};
  return encoding;
}

const TextEncoding& Utf16LeEncoding() {
  static const TextEncoding encoding{"UTF-16LE", 1200, "\xFF\xFE",
                                     TextEncoding::Kind::kUtf16Le, UnitFormat::kUtf16Le};
  return encoding;
}

const TextEncoding& Utf16BeEncoding() {
  static const TextEncoding encoding{"UTF-16BE", 1201, "\xFE\xFF",
                                     TextEncoding::Kind::kUtf16Be, UnitFormat::kUtf16Be};
  return encoding;
}

const TextEncoding& Windows1252Encoding() {
  static const TextEncoding encoding{"Windows-1252", 1252, "",
                                     TextEncoding::Kind::kSingleByte, UnitFormat::kByte,
                                     kWindows1252.data()};
  return encoding;
}

const TextEncoding& StoredEncodingOf(const TextEncoding& encoding) {
  return encoding.keeps_bytes ? encoding : Utf16LeEncoding();
}

std::u16string DecodeText(const TextEncoding& encoding, std::string_view bytes) {
  switch (encoding.kind) {
    case TextEncoding::Kind::kUtf8:
      return DecodeUtf8(bytes);
    case TextEncoding::Kind::kUtf16Le:
      return DecodeUtf16(bytes, true);
    case TextEncoding::Kind::kUtf16Be:
      return DecodeUtf16(bytes, false);
    case TextEncoding::Kind::kCodePage:
      return encoding.decode(encoding.code_page, bytes);
    case TextEncoding::Kind::kSingleByte:
      break;
  }
  std::u16string text(bytes.size(), u'\0');
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    text[k] = encoding.byte_to_char[static_cast<unsigned char>(bytes[k])];
  }
  return text;
}

std::string EncodeText(const TextEncoding& encoding, std::u16string_view text) {
  switch (encoding.kind) {
    case TextEncoding::Kind::kUtf8:
      return EncodeUtf8(text);
    case TextEncoding::Kind::kUtf16Le:
      return EncodeUtf16(text, true);
    case TextEncoding::Kind::kUtf16Be:
      return EncodeUtf16(text, false);
    case TextEncoding::Kind::kCodePage:
      return encoding.encode(encoding.code_page, text);
    case TextEncoding::Kind::kSingleByte:
      break;
  }
  return EncodeSingleByte(encoding.byte_to_char, text);
}

}  // namespace ncrewrite
