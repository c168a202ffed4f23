#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ncrewrite {

/// How the stored bytes of a text form its 16-bit code units.
enum class UnitFormat {
  kByte,      // one byte per unit; line breaks and blanks are single bytes
  kUtf16Le,   // two bytes per unit, low byte first
  kUtf16Be,   // two bytes per unit, high byte first
};

/// One of the four process-wide text encodings. Each is made on first use
/// and lives until the process ends; line lists only refer to them.
struct TextEncoding {
  enum class Kind { kUtf8, kUtf16Le, kUtf16Be, kSingleByte };

  std::string_view name;
  std::uint32_t code_page;
  std::string_view byte_order_mark;
  Kind kind;
  UnitFormat units;
  /// For kSingleByte: the character of every byte. The table must be a
  /// bijection onto its 256 characters that keeps ASCII as it is, so that
  /// decoding and encoding again gives the same bytes.
  const char16_t* byte_to_char = nullptr;
};

const TextEncoding& Utf8Encoding();
const TextEncoding& Utf16LeEncoding();
const TextEncoding& Utf16BeEncoding();
/// The platform's 8-bit code page, every line list's fallback encoding,
/// from text_encoding_<platform>.cpp. A twin makes it once and keeps it
/// until the process ends, gives it the byte-order mark of its number
/// (65001, 1200 and 1201 have theirs), makes its conversions never fail, and
/// raises EEncodingError ("Ungültige Codeseite") when the platform does not
/// know its own code page. The line walks rely on CR, LF and the units up
/// to U+0020 being single bytes of their own in its text, as they are in
/// every 8-bit and East Asian double-byte code page.
const TextEncoding& SystemCodePage();
/// Windows-1252 with Windows' own mapping: every byte round-trips.
const TextEncoding& Windows1252Encoding();

/// Decodes bytes already known to be well-formed in `encoding` (UTF-8 is
/// validated on load; UTF-16 takes any code units).
std::u16string DecodeText(const TextEncoding& encoding, std::string_view bytes);

/// Encodes `text`. Never fails: a character that a single-byte code page
/// cannot show becomes '?', an unpaired surrogate in UTF-8 becomes U+FFFD.
std::string EncodeText(const TextEncoding& encoding, std::u16string_view text);

}  // namespace ncrewrite
