#pragma once

#include <cstdint>
#include <memory>
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
  enum class Kind { kUtf8, kUtf16Le, kUtf16Be, kSingleByte, kCodePage };

  std::string_view name;
  std::uint32_t code_page;
  std::string_view byte_order_mark;
  Kind kind;
  UnitFormat units;
  /// For kSingleByte: the character of every byte. The table must be a
  /// bijection onto its 256 characters that keeps ASCII as it is, so that
  /// decoding and encoding again gives the same bytes.
  const char16_t* byte_to_char = nullptr;
  /// For kCodePage: the platform's own conversions of `code_page`, which
  /// never fail (what they make of bytes or characters that the code page
  /// lacks is the platform's rule).
  std::u16string (*decode)(std::uint32_t code_page, std::string_view bytes) = nullptr;
  std::string (*encode)(std::uint32_t code_page, std::u16string_view text) = nullptr;
  /// Whether a line list keeps text in this encoding as the file's bytes
  /// and walks its lines on them (line_scan.h), which needs CR, LF and the
  /// units up to U+0020 to be units of their own. When not, a load decodes
  /// the whole text and the list keeps it as UTF-16LE (StoredEncodingOf).
  bool keeps_bytes = true;
};

const TextEncoding& Utf8Encoding();
const TextEncoding& Utf16LeEncoding();
const TextEncoding& Utf16BeEncoding();
/// The platform's 8-bit code page, every line list's fallback encoding,
/// from text_encoding_<platform>.cpp. A twin makes it once and keeps it
/// until the process ends, makes its conversions never fail, and raises
/// EEncodingError ("Ungültige Codeseite") when the platform does not know
/// its own code page.
///
/// Files without a mark keep their bytes: a code page that keeps 0x00-0x7F
/// as ASCII and never uses a byte below 0x40 inside a multi-byte character
/// (every 8-bit code page that keeps ASCII, the East Asian double-byte ones,
/// UTF-8) has no byte-order mark and keeps its bytes (keeps_bytes), so that
/// lines are split, trimmed and compared on the bytes and the lines that
/// the rule leaves alone go back byte for byte, whatever the platform's
/// conversion would make of them. Only a code page without that property
/// is decoded on load, and has the byte-order mark of its number (65001,
/// 1200 and 1201 have theirs).
const TextEncoding& SystemCodePage();

/// The encoding that code page `code_page` would be as the system code page,
/// made afresh and owned by the result: for tests of code pages that the
/// running system does not use. Raises EEncodingError ("Ungültige
/// Codeseite") when the platform does not know the code page; Linux knows
/// Windows-1252 alone.
std::shared_ptr<const TextEncoding> MakeCodePageEncoding(std::uint32_t code_page);

/// The encoding in which a line list keeps text that was loaded in
/// `encoding`: `encoding` itself when it keeps bytes, else UTF-16LE.
const TextEncoding& StoredEncodingOf(const TextEncoding& encoding);

/// Windows-1252 with Windows' own mapping: every byte round-trips.
const TextEncoding& Windows1252Encoding();

/// Decodes bytes already known to be well-formed in `encoding` (UTF-8 is
/// validated on load; UTF-16 takes any code units).
std::u16string DecodeText(const TextEncoding& encoding, std::string_view bytes);

/// Encodes `text`. Never fails: a character that a single-byte code page
/// cannot show becomes '?', an unpaired surrogate in UTF-8 becomes U+FFFD;
/// a platform's code page (kCodePage) follows the platform's rule.
std::string EncodeText(const TextEncoding& encoding, std::u16string_view text);

}  // namespace ncrewrite
