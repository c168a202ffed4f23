#pragma once

// How the program splits a command line that arrives as one string, as on
// Windows. Its own rule, not the C runtime's nor CommandLineToArgvW's: those
// take a backslash before a double quote for an escape, so "C:\jobs\" would
// swallow its closing quote and everything after it.

#include <cstdint>
#include <string>
#include <string_view>

namespace ncrewrite {

/// Argument `index` of `command_line`, argument 0 being the program's name
/// as written; the command line ends at its end or at its first U+0000.
/// Arguments are taken one after another:
/// - separators (U+0001 to U+0020) and empty pairs of double quotes ("")
///   before an argument are skipped, in any mix, so "" yields no argument;
/// - then characters are collected up to the next separator or the end. A
///   double quote opens a stretch in which everything up to the next double
///   quote or the end is collected, separators included; the quotes
///   themselves are not, and a stretch joins the pieces around it into one
///   argument. There is no escape character, so no argument holds a '"'.
/// Empty when there is no such argument (index below 0 included), or when
/// an argument before it came out empty. Takes time linear in the length
/// of the command line, and knows no limit to it.
std::u16string CommandLineArgument(std::u16string_view command_line, std::int32_t index);

}  // namespace ncrewrite
