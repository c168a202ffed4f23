#pragma once

#include <string_view>

namespace ncrewrite {

/// True when `bytes` is well-formed UTF-8 in the Unicode Standard's strict
/// sense: no stray continuation byte, no overlong form, no encoded surrogate,
/// nothing above U+10FFFF and no sequence cut off at the end.
bool IsWellFormedUtf8(std::string_view bytes);

}  // namespace ncrewrite
