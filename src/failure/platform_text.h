#pragma once

// How text and paths travel between portable code and the platform.
//
// Portable code carries every text, paths included, as std::string of
// UTF-8. A Windows path is UTF-16 and may hold unpaired surrogates, which
// UTF-8 cannot show; there the strings are WTF-8, the superset of UTF-8
// that also encodes a lone surrogate as three bytes, so that every path
// survives the trip from the command line to the file system unchanged.
// On POSIX systems a path is bytes and goes to the system as it is.
//
// Conversion happens only at the platform edge, with the two functions
// below, and nothing in portable code assumes a length limit: a Windows
// twin that needs the "\\?\" form for a long path adds it there.

#include <span>
#include <string>
#include <string_view>

namespace ncrewrite {

/// The WTF-8 (or UTF-8) form of `units`. Lossless: every sequence of code
/// units, unpaired surrogates included, comes back unchanged from
/// Utf16FromWtf8. A surrogate pair becomes one four-byte sequence.
std::string Wtf8FromUtf16(std::u16string_view units);

/// The code units of the WTF-8 text `text`. A byte that begins no
/// well-formed sequence, which Wtf8FromUtf16 never makes, becomes U+FFFD.
std::u16string Utf16FromWtf8(std::string_view text);

/// Wtf8FromUtf16 into `out`, without allocating, for texts that must reach
/// the platform when memory has run out. Gives the number of bytes written;
/// what does not fit is left out, never part of a character.
std::size_t Wtf8FromUtf16(std::u16string_view units, std::span<char> out) noexcept;

/// Utf16FromWtf8 into `out`, without allocating. Gives the number of code
/// units written; what does not fit is left out, never half a surrogate pair.
std::size_t Utf16FromWtf8(std::string_view text, std::span<char16_t> out) noexcept;

}  // namespace ncrewrite
