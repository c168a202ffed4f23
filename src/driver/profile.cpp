#include "driver/profile.h"

#include <algorithm>
#include <optional>

#include "textfile/text_encoding.h"

namespace ncrewrite {
namespace {

// ^Z counts as a blank: files from old DOS tools end with one.
bool IsBlank(char16_t c) { return (c >= u'\t' && c <= u'\r') || c == u' ' || c == 0x1A; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

/// `text` up to its first NUL, where the platform's strings end.
std::u16string_view UpToNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

/// Whether the name found in the file is `wanted` (already without blanks).
bool SameName(std::u16string_view found, std::u16string_view wanted) {
  found = UpToNul(found);
  return std::ranges::equal(found, wanted, {}, FoldAscii, FoldAscii);
}

/// The value text that a buffer of kMaxSettingsValue + 1 characters
/// receives for `value`.
std::u16string ValueText(std::u16string_view value) {
  value = UpToNul(value);
  const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                      value.back() == value.front();
  if (!quoted) return std::u16string(value.substr(0, kMaxSettingsValue));
  value.remove_prefix(1);
  // The closing quote is dropped as the last character of what was copied,
  // so from a text too long by one the character before it goes instead.
  if (value.size() > kMaxSettingsValue + 1) {
    return std::u16string(value.substr(0, kMaxSettingsValue));
  }
  value = value.substr(0, std::min(value.size(), kMaxSettingsValue));
  value.remove_suffix(1);
  return std::u16string(value);
}

/// Splits the next line, without blanks around it, off `rest`.
std::u16string_view NextLine(std::u16string_view& rest) {
  const std::size_t end = std::min(rest.find_first_of(u"\r\n"), rest.size());
  const std::u16string_view line = rest.substr(0, end);
  rest.remove_prefix(std::min(rest.find_first_not_of(u"\r\n", end), rest.size()));
  return TrimBlanks(line);
}

/// The name of a section line, or nothing for other lines.
std::optional<std::u16string_view> SectionName(std::u16string_view line) {
  const std::size_t close = line.rfind(u']');
  if (!line.starts_with(u'[') || close == 0 || close == std::u16string_view::npos) {
    return std::nullopt;
  }
  return TrimBlanks(line.substr(1, close - 1));
}

}  // namespace

std::u16string FindProfileValue(std::u16string_view content, std::u16string_view section,
                                std::u16string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  bool in_section = false;
  while (!content.empty()) {
    const std::u16string_view line = NextLine(content);
    if (line.empty()) continue;
    if (const std::optional<std::u16string_view> name = SectionName(line)) {
      if (in_section) break;  // a later section of the same name is not consulted
      in_section = SameName(*name, section);
      continue;
    }
    if (!in_section) continue;
    const std::size_t equals = line.find(u'=');
    if (!SameName(TrimBlanks(line.substr(0, equals)), key)) continue;
    if (equals == std::u16string_view::npos) break;  // the key has no value
    return ValueText(TrimBlanks(line.substr(equals + 1)));
  }
  return {};
}

std::u16string DecodeProfile(std::string_view bytes, const TextEncoding& unmarked) {
  if (bytes.starts_with(Utf8Encoding().byte_order_mark)) {
    return DecodeUtf8Leniently(bytes.substr(Utf8Encoding().byte_order_mark.size()));
  }
  for (const TextEncoding* marked : {&Utf16LeEncoding(), &Utf16BeEncoding()}) {
    if (bytes.starts_with(marked->byte_order_mark)) {
      return DecodeText(*marked, bytes.substr(marked->byte_order_mark.size()));
    }
  }
  return DecodeText(unmarked, bytes);
}

std::u16string DecodeUtf8Leniently(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  const auto byte = [&bytes](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const auto continuation = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
  while (i < bytes.size()) {
    const unsigned char lead = byte(i++);
    if (lead < 0x80) {
      text.push_back(lead);
      continue;
    }
    const std::size_t more = lead >= 0xC2 && lead <= 0xDF   ? 1
                             : lead >= 0xE0 && lead <= 0xEF ? 2
                             : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                            : 0;
    if (bytes.size() - i < more) {  // cut off by the end
      text.push_back(0xFFFD);
      break;
    }
    char32_t code = lead & (0x7Fu >> (more + 1));
    bool broken = more == 0;
    // The checks come at the byte that first shows the fault, which is taken
    // into the U+FFFD; a byte that continues nothing is left for the next.
    for (std::size_t k = 0; k < more && !broken; ++k) {
      if (!continuation(i)) {
        broken = true;
        break;
      }
      code = code << 6 | (byte(i) & 0x3Fu);
      const std::size_t left = more - k - 1;  // continuation bytes still to come
      if (left == 1 && code >= (0x110000 >> 6)) {
        broken = true;  // above U+10FFFF: shown at this byte, which stays
        break;
      }
      ++i;
      broken = (left == 2 && code < 0x10) ||                       // overlong of four
               (left == 1 && code < 0x20) ||                       // overlong of three
               (left == 1 && code >= 0x360 && code <= 0x37F);      // a surrogate
    }
    if (broken) {
      text.push_back(0xFFFD);
    } else if (code >= 0x10000) {
      text.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
  }
  return text;
}

}  // namespace ncrewrite
