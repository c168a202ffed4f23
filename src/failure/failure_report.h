#pragma once

// The texts of the two reports that end a failed run: the failure report
// (German, from the stored texts) and the fallback report, the last resort
// when a failure meets no failure report in place.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure/failure.h"

namespace ncrewrite {

/// The longest failure report, in characters (UTF-16 code units, as a
/// Windows build counts them).
inline constexpr std::size_t kFailureReportLimit = 1024;

/// Where a code address lies: the file name of the module that holds it and
/// the offset from that module's load address.
struct CodeLocation {
  std::string module_name;
  std::uint64_t offset = 0;
};

/// The module that holds `address` and the offset into it. An address that
/// lies in no module (0 among them) is taken as an address in the executable
/// as if it were loaded at 4096: the executable's name and `address` less
/// 4096, except that 0 gives 0. The name is the part of the module's path
/// after its last separator, at most 260 characters.
CodeLocation LocateCode(std::uint64_t address);

/// The failure report for `failure`, two lines each ended by CR LF:
///   Exception <kind> in Modul <module> bei <offset, 16 uppercase hex digits>.
///   <message><a period, when the message is not empty and does not end with one>
/// cut after kFailureReportLimit characters; a character is never split.
std::string FormatFailureReport(const Failure& failure);

/// The fallback report: "Runtime error NNN at XXXXXXXXXXXXXXXX" with the
/// runtime error number right-aligned in three places (its last three digits)
/// and the absolute code address in sixteen uppercase hex digits. Needs no
/// memory, so it can be built when memory has run out.
struct RuntimeErrorText {
  std::array<char, 38> chars;  // 37 characters and a terminating NUL
  std::string_view view() const noexcept { return {chars.data(), chars.size() - 1}; }
};
RuntimeErrorText FormatRuntimeErrorReport(int number, std::uint64_t address) noexcept;

}  // namespace ncrewrite
