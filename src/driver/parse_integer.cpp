#include "driver/parse_integer.h"

#include <optional>

namespace ncrewrite {
namespace {

std::optional<unsigned> DigitValue(char16_t c, unsigned base) {
  unsigned value;
  if (c >= u'0' && c <= u'9') {
    value = static_cast<unsigned>(c - u'0');
  } else if (c >= u'a' && c <= u'f') {
    value = static_cast<unsigned>(c - u'a') + 10;
  } else if (c >= u'A' && c <= u'F') {
    value = static_cast<unsigned>(c - u'A') + 10;
  } else {
    return std::nullopt;
  }
  if (value >= base) return std::nullopt;
  return value;
}

/// Reads the digits that make up all of `digits`. The magnitude may not pass
/// `limit`; it is kept in 64 bits so that no digit count can wrap it.
std::optional<std::uint64_t> ReadDigits(std::u16string_view digits, unsigned base,
                                        std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : digits) {
    const std::optional<unsigned> digit = DigitValue(c, base);
    if (!digit) return std::nullopt;
    value = value * base + *digit;
    if (value > limit) return std::nullopt;
  }
  return value;
}

bool StartsHexadecimal(std::u16string_view text) {
  return text.starts_with(u'$') || text.starts_with(u'x') || text.starts_with(u'X') ||
         text.starts_with(u"0x") || text.starts_with(u"0X");
}

}  // namespace

std::int32_t ParseInteger(std::u16string_view text, std::int32_t fallback) {
  while (text.starts_with(u' ')) text.remove_prefix(1);
  bool negative = false;
  if (text.starts_with(u'-') || text.starts_with(u'+')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (StartsHexadecimal(text)) {
    text.remove_prefix(text.front() == u'0' ? 2 : 1);
    const std::optional<std::uint64_t> bits = ReadDigits(text, 16, 0xFFFFFFFFu);
    if (!bits) return fallback;
    const auto value = static_cast<std::uint32_t>(*bits);
    return static_cast<std::int32_t>(negative ? 0u - value : value);
  }
  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  const std::optional<std::uint64_t> magnitude = ReadDigits(text, 10, limit);
  if (!magnitude) return fallback;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*magnitude)
                                            : static_cast<std::int64_t>(*magnitude));
}

}  // namespace ncrewrite
