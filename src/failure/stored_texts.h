#pragma once

// The German texts that the failure reports show, kept under the numbers by
// which a Windows build finds them in its string table. Every use goes
// through StoredText, so both builds show the same words.

#include <cstdint>
#include <string_view>

namespace ncrewrite {

namespace stored_text {
#define NCREWRITE_STORED_TEXT(name, number, text) inline constexpr std::uint32_t name = number;
#include "failure/stored_texts.inc"
#undef NCREWRITE_STORED_TEXT
}  // namespace stored_text

/// The stored text `number` in UTF-8, as the running program finds it;
/// empty for a number that has none. Each platform reads it in its own
/// stored_texts_<platform>.cpp; a twin needs no memory (the texts are read
/// when memory has run out) and keeps the text where the view shows it
/// until the program ends.
std::string_view StoredText(std::uint32_t number) noexcept;

/// The stored text `number` as the program's own code holds it, from the
/// one list of the texts; empty for a number that has none. What StoredText
/// gives on a platform without a string table of its own.
std::string_view BuiltInStoredText(std::uint32_t number) noexcept;

}  // namespace ncrewrite
