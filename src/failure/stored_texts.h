#pragma once

// The German texts that the failure reports show, kept under the numbers by
// which a Windows build finds them in its string table. Every use goes
// through StoredText, so both builds show the same words.

#include <cstdint>
#include <string_view>

namespace ncrewrite {

namespace stored_text {
/// "Exception %s in Modul %s bei %p." CR LF "%s%s" CR LF: kind name, module
/// name, code offset; message, added period.
inline constexpr std::uint32_t kFailureReportFormat = 65489;
/// Caption of the failure report.
inline constexpr std::uint32_t kFailureReportCaption = 65490;
/// Message of the out-of-memory failure.
inline constexpr std::uint32_t kOutOfMemoryMessage = 65530;
}  // namespace stored_text

/// The stored text `number` in UTF-8; empty for a number that has none.
std::string_view StoredText(std::uint32_t number) noexcept;

}  // namespace ncrewrite
