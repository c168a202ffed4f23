// The integer conversion against an oracle that follows the rules step by
// step on whole digit strings, without any arithmetic that could overflow.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/parse_integer.h"
#include "fuzz_support.h"

using namespace ncrewrite;
using fuzz::Require;

namespace {

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

unsigned DigitValue(char16_t c) {
  if (c <= u'9') return static_cast<unsigned>(c - u'0');
  return static_cast<unsigned>((c | 0x20) - u'a' + 10);
}

std::optional<std::int32_t> ParseSlowly(std::u16string_view text) {
  std::size_t k = 0;
  while (k < text.size() && text[k] == u' ') ++k;
  bool negative = false;
  if (k < text.size() && (text[k] == u'-' || text[k] == u'+')) negative = text[k++] == u'-';
  const std::u16string_view rest = text.substr(k);
  bool hex = false;
  std::size_t prefix = 0;
  if (rest.starts_with(u"0x") || rest.starts_with(u"0X")) {
    hex = true, prefix = 2;
  } else if (rest.starts_with(u"$") || rest.starts_with(u"x") || rest.starts_with(u"X")) {
    hex = true, prefix = 1;
  }
  std::u16string_view digits = rest.substr(prefix);
  if (digits.empty()) return std::nullopt;
  for (const char16_t c : digits) {
    if (hex ? !IsHexDigit(c) : !(c >= u'0' && c <= u'9')) return std::nullopt;
  }
  while (digits.size() > 1 && digits.front() == u'0') digits.remove_prefix(1);
  const unsigned base = hex ? 16 : 10;
  if (digits.size() > (hex ? 8u : 10u)) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (const char16_t c : digits) magnitude = magnitude * base + DigitValue(c);
  if (hex) {
    // Eight hex digits are 32 bits of two's complement; a minus negates
    // them modulo 2^32.
    const std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
  }
  if (magnitude > (negative ? 2147483648u : 2147483647u)) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                            : static_cast<std::int64_t>(magnitude));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every byte is one character, so that the fuzzer spells digits, signs
  // and prefixes directly; a byte 0xFF puts a character above U+00FF next.
  std::u16string text;
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == 0xFF && k + 2 < size) {
      text.push_back(static_cast<char16_t>(data[k + 1] << 8 | data[k + 2]));
      k += 2;
    } else {
      text.push_back(static_cast<char16_t>(data[k]));
    }
  }
  for (const std::int32_t fallback : {0, -7, 2147483647}) {
    const std::optional<std::int32_t> expected = ParseSlowly(text);
    Require(ParseInteger(text, fallback) == expected.value_or(fallback), "ParseInteger agrees");
  }
  return 0;
}
