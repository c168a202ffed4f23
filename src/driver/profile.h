#pragma once

#include <string>
#include <string_view>

namespace ncrewrite {

/// Longest value a settings lookup gives; longer values are cut.
inline constexpr std::size_t kMaxSettingsValue = 2047;

/// Finds `key` in `section` of the text of an INI (private profile) file, the
/// way users expect from Windows: section and key names match ignoring ASCII
/// case and surrounding blanks; text after ']' on a section line is ignored;
/// the first section and the first key of a name win; spaces and tabs around
/// the value are trimmed and then one pair of matching quotes; there is no
/// comment syntax. Lines end at CR LF, LF or CR. Gives the empty text when
/// the section or the key is missing; the value is cut to
/// kMaxSettingsValue characters.
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

/// Decodes the bytes of a settings file by its byte-order mark (UTF-8,
/// UTF-16LE, UTF-16BE), else in the system code page. Never fails.
std::u16string DecodeProfile(std::string_view bytes);

}  // namespace ncrewrite
