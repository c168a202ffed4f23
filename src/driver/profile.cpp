#include "driver/profile.h"

#include <optional>

#include "textfile/text_encoding.h"
#include "textfile/utf8.h"

namespace ncrewrite {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  a = TrimBlanks(a);
  b = TrimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (FoldAscii(a[k]) != FoldAscii(b[k])) return false;
  }
  return true;
}

std::u16string_view Unquote(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

/// Splits the next line off `rest`.
std::u16string_view NextLine(std::u16string_view& rest) {
  const std::size_t end = std::min(rest.find_first_of(u"\r\n"), rest.size());
  const std::u16string_view line = rest.substr(0, end);
  std::size_t next = end;
  if (next < rest.size() && rest[next] == u'\r') ++next;
  if (next < rest.size() && rest[next] == u'\n') ++next;
  rest.remove_prefix(next);
  return line;
}

/// The name of a section line, or nothing for other lines.
std::optional<std::u16string_view> SectionName(std::u16string_view line) {
  line = TrimBlanks(line);
  if (!line.starts_with(u'[')) return std::nullopt;
  line.remove_prefix(1);
  return line.substr(0, line.find(u']'));
}

}  // namespace

std::u16string FindProfileValue(std::u16string_view content, std::u16string_view section,
                                std::u16string_view key) {
  bool in_section = false;
  bool section_seen = false;
  while (!content.empty()) {
    const std::u16string_view line = NextLine(content);
    if (const std::optional<std::u16string_view> name = SectionName(line)) {
      if (in_section) break;  // a later section of the same name is not consulted
      in_section = !section_seen && SameName(*name, section);
      section_seen = section_seen || in_section;
      continue;
    }
    const std::size_t equals = line.find(u'=');
    if (!in_section || equals == std::u16string_view::npos) continue;
    if (!SameName(line.substr(0, equals), key)) continue;
    const std::u16string_view value = Unquote(TrimBlanks(line.substr(equals + 1)));
    return std::u16string(value.substr(0, kMaxSettingsValue));
  }
  return {};
}

std::u16string DecodeProfile(std::string_view bytes) {
  for (const TextEncoding* marked : {&Utf8Encoding(), &Utf16LeEncoding(), &Utf16BeEncoding()}) {
    if (!bytes.starts_with(marked->byte_order_mark)) continue;
    bytes.remove_prefix(marked->byte_order_mark.size());
    if (marked == &Utf8Encoding() && !IsWellFormedUtf8(bytes)) return {};
    return DecodeText(*marked, bytes);
  }
  return DecodeText(SystemCodePage(), bytes);
}

}  // namespace ncrewrite
