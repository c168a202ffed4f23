#pragma once

#include <string>
#include <string_view>

namespace ncrewrite {

struct TextEncoding;

/// Longest value a settings lookup gives; longer values are cut.
inline constexpr std::size_t kMaxSettingsValue = 2047;

/// Finds `key` in `section` of the text of an INI (private profile) file
/// and gives what Windows' GetPrivateProfileStringW gives for it with an
/// empty default and a buffer of kMaxSettingsValue + 1 characters (the
/// corpus in profile_corpus/ holds the cases, checked against Wine's):
/// - Lines end at CR, LF or any run of them; blanks (tab, LF, VT, FF, CR,
///   space and ^Z) around each line are dropped, and so are blank lines.
/// - A line that starts with '[' and has a ']' after it names a section:
///   the text up to the last ']', without blanks. Other text after that ']'
///   is ignored. A '[' with no ']' after it starts no section.
/// - Any other line is a key: the text before its first '=' without
///   blanks, the value after it without blanks; a line without '=' is a
///   key without a value. There is no comment syntax: a line starting with
///   ';' or '#' is a key whose name starts with that character.
/// - Names match ignoring the case of ASCII letters, up to a NUL in the
///   name of the file; a value ends at its first NUL.
/// - Only the first section of a name is searched, and only the first key
///   of a name in it counts; a key without a value gives the empty text.
/// - One pair of matching quotes (" or ') around the value is dropped. The
///   value is cut to kMaxSettingsValue characters, a quoted one as Windows
///   does it: the opening quote is dropped first, and the last character
///   of the cut text is dropped when the text after the opening quote had
///   room for its terminator.
/// Gives the empty text when the section or the key is missing.
std::u16string FindProfileValue(std::u16string_view content, std::u16string_view section,
                                std::u16string_view key);

/// The platform's private-profile lookup: the value of `key` in `section`
/// of the settings file at `path`, read afresh, as FindProfileValue gives
/// it; the empty text when the file, the section or the key is missing.
/// What a platform's twin must guarantee: it never fails, never writes or
/// creates the file, and gives at most kMaxSettingsValue characters.
std::u16string ReadProfileString(const std::string& path, std::u16string_view section,
                                 std::u16string_view key);

/// Asks the platform to drop a cached copy of the settings file at `path`,
/// if it keeps one. Writes and creates nothing, and never fails.
void FlushProfileCache(const std::string& path) noexcept;

/// Decodes the bytes of a settings file as Windows' profile reader does:
/// by its byte-order mark (UTF-8, UTF-16LE, UTF-16BE), else in `unmarked`,
/// the system code page. Never fails: a sequence that is no UTF-8 in a file
/// marked UTF-8 becomes U+FFFD, as Windows' converter gives it (see
/// DecodeUtf8Leniently), and an odd last byte of a UTF-16 file is dropped.
std::u16string DecodeProfile(std::string_view bytes, const TextEncoding& unmarked);

/// UTF-8 decoded without failing, the way Windows' MultiByteToWideChar
/// without flags does it: a lead byte with the continuation bytes that still
/// fit a well-formed sequence becomes one U+FFFD where the sequence breaks
/// off (overlong forms, surrogates and code points above U+10FFFF break off
/// at the byte that shows it); a byte that leads nothing becomes one U+FFFD;
/// a sequence that the end of the text cuts off takes the rest with it.
std::u16string DecodeUtf8Leniently(std::string_view bytes);

}  // namespace ncrewrite
