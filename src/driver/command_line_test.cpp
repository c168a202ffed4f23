#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace ncrewrite {
namespace {

struct Case {
  const char* name;
  std::u16string line;
  std::int32_t index;
  std::u16string argument;
};

constexpr char16_t kProgram[] = u"C:\\tools\\rewrite.exe";

std::u16string Line(std::u16string_view rest) { return kProgram + std::u16string(rest); }

TEST(CommandLineArgument, SplitsByTheProgramsOwnRule) {
  const Case cases[] = {
      // How users write paths.
      {"quoted path with a blank", Line(u" \"C:\\my jobs\\part.nc\""), 1, u"C:\\my jobs\\part.nc"},
      {"the same unquoted", Line(u" C:\\my jobs\\part.nc"), 1, u"C:\\my"},
      {"the rest of the unquoted path", Line(u" C:\\my jobs\\part.nc"), 2, u"jobs\\part.nc"},
      {"empty quotes are skipped", Line(u" \"\" C:\\jobs\\part.nc"), 1, u"C:\\jobs\\part.nc"},
      {"a quoted stretch inside", Line(u" C:\\my\" \"jobs\\part.nc"), 1, u"C:\\my jobs\\part.nc"},
      {"no closing quote", Line(u" \"C:\\my jobs\\part.nc"), 1, u"C:\\my jobs\\part.nc"},
      {"backslash before the closing quote", Line(u" \"C:\\jobs\\\""), 1, u"C:\\jobs\\"},
      {"and what follows it", Line(u" \"C:\\jobs\\\" next"), 2, u"next"},
      {"a tab separates", Line(u"\tC:\\jobs\\part.nc"), 1, u"C:\\jobs\\part.nc"},
      {"unquoted program path with a blank", u"C:\\my tools\\rewrite.exe C:\\jobs\\part.nc", 0,
       u"C:\\my"},
      {"its second half is argument 1", u"C:\\my tools\\rewrite.exe C:\\jobs\\part.nc", 1,
       u"tools\\rewrite.exe"},
      {"quoted program path", u"\"C:\\my tools\\rewrite.exe\" part.nc", 0,
       u"C:\\my tools\\rewrite.exe"},
      {"argument after a quoted program path", u"\"C:\\my tools\\rewrite.exe\"part.nc", 0,
       u"C:\\my tools\\rewrite.exepart.nc"},

      // Separators and quotes in any mix.
      {"runs of blanks and tabs", Line(u" \t  \t a  \t b"), 2, u"b"},
      {"every control character separates",
       Line(std::u16string(u"\x01" u"a\x1F" u"b\x0D\x0A" u"c", 7)), 3, u"c"},
      {"DEL is no separator", Line(u" a\x7F" u"b"), 1, u"a\x7F" u"b"},
      {"separators inside quotes are kept", Line(u" \"a\tb\x01" u"c\""), 1, u"a\tb\x01" u"c"},
      {"empty pairs between separators", Line(u" \"\" \"\"\"\" \t\"\"x"), 1, u"x"},
      {"empty pair inside an argument", Line(u" a\"\"b"), 1, u"ab"},
      {"three quotes open a stretch", Line(u" \"\"\"a b"), 1, u"a b"},
      {"pieces join", Line(u" \"a\"b\"c d\"e f"), 1, u"abc de"},
      {"no escapes", Line(u" a\\\"b c\"\\\\d"), 1, u"a\\b c\\\\d"},
      {"letters beyond ASCII and lone surrogates",
       Line(u" Auftr\u00E4ge\\\xD800.nc"), 1, u"Auftr\u00E4ge\\\xD800.nc"},

      // The end of the command line.
      {"no argument 1", Line(u""), 1, u""},
      {"only blanks after the program", Line(u"   "), 1, u""},
      {"only an empty pair", Line(u" \"\""), 1, u""},
      {"a lone quote at the end", Line(u" \""), 1, u""},
      {"index beyond the last argument", Line(u" a b"), 3, u""},
      {"NUL ends the command line", Line(std::u16string(u" a\0b c", 6)), 2, u""},
      {"NUL ends a quoted stretch", Line(std::u16string(u" \"a\0b\" c", 8)), 1, u"a"},
      {"argument 0 of an empty line", u"", 0, u""},
      {"argument 0 of blanks", u"  ", 0, u""},
      {"argument 0 after blanks", u"  rewrite.exe a", 0, u"rewrite.exe"},
      {"negative index", Line(u" a"), -1, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandLineArgument(c.line, c.index), c.argument) << c.name;
  }
}

TEST(CommandLineArgument, KnowsNoLimitOfLength) {
  const std::u16string long_argument(100000, u'x');
  EXPECT_EQ(CommandLineArgument(Line(u" \"" + long_argument + u" y\""), 1), long_argument + u" y");

  // Many arguments: the last is found, and nothing beyond it.
  std::u16string line = kProgram;
  for (int i = 0; i < 20000; ++i) line += u" a";
  line += u" last";
  EXPECT_EQ(CommandLineArgument(line, 20001), u"last");
  EXPECT_EQ(CommandLineArgument(line, 20002), u"");
  EXPECT_EQ(CommandLineArgument(line, INT32_MAX), u"");
}

}  // namespace
}  // namespace ncrewrite
