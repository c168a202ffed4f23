#pragma once

#include <cstdint>
#include <string_view>

namespace ncrewrite {

/// Converts `text` to a signed 32-bit integer, or gives `fallback` when the
/// text is no valid integer. Accepted: leading spaces (U+0020 only), one
/// sign, then decimal digits within the 32-bit range, or a hexadecimal
/// number after "$", "x", "X", "0x" or "0X" of at most eight significant
/// digits, read as two's complement. Nothing may follow the digits.
std::int32_t ParseInteger(std::u16string_view text, std::int32_t fallback);

}  // namespace ncrewrite
