#pragma once

// Test support: line lists made straight from stored text.

#include <string_view>

#include "textfile/line_list.h"
#include "textfile/text_encoding.h"

namespace ncrewrite::testing {

/// A list of the stored text `text` (line breaks included) in `encoding`,
/// in a buffer of exactly its size, so that a read past it is caught by the
/// address sanitizer.
LineList StoredList(const TextEncoding& encoding, std::u16string_view text);

}  // namespace ncrewrite::testing
