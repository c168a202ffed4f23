// End to end: the built executable, copied into a fresh directory together
// with its own settings file, run on real files. The tables here are the
// same on every platform.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/held_file.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using testing::PathOf;
using testing::ProgramRun;
using testing::ReadFile;
using testing::WriteFile;

/// The bytes of `text` in UTF-16LE or UTF-16BE, after the mark.
std::string Utf16(std::u16string_view text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}
std::string Utf16Le(std::u16string_view text) { return Utf16(text, false); }
std::string Utf16Be(std::u16string_view text) { return Utf16(text, true); }

/// Every byte from 0x80 to 0xFF, those that Windows-1252 leaves undefined
/// (81, 8D, 8F, 90, 9D) included.
std::string HighBytes() {
  std::string bytes;
  for (int byte = 0x80; byte <= 0xFF; ++byte) bytes += static_cast<char>(byte);
  return bytes;
}

struct ProgramCase {
  const char* name;
  std::string input;
  std::string output;  // what the input file holds after the run
};

// A program comes back rewritten, every line ended by CR LF, in the
// encoding that its mark gives; a file without a mark keeps its bytes,
// whatever the system's code page is.
TEST_F(RewriteRun, ProgramsComeBackRewrittenInTheirEncoding) {
  const ProgramCase cases[] = {
      // The rule, through the whole run.
      {"basic", "A\r\nM104\r\nB\r\nM80\r\nM81\r\nC\r\n", "A\r\nM104 M180\r\nB\r\nC\r\n"},
      {"blanks and control characters around the codes",
       "A\n  M104\t\nB\n\tM80 \n M81\t\t\nC\n", "A\r\nM104 M180\r\nB\r\nC\r\n"},
      {"NUL is trimmed like a blank", std::string("A\nM104\nM80\0\nM81\0\n"sv),
       "A\r\nM104 M180\r\n"},
      {"case and further text matter", "A\nM104 S200\nm80\nM80 (x)\nM80\nM81\n",
       "A\r\nM104 S200\r\nm80\r\nM80 (x)\r\nM80\r\nM81\r\n"},
      {"M104 on the first line is never taken", "M104\nM80\nM81\nA",
       "M104\r\nM80\r\nM81\r\nA\r\n"},
      {"an M80 after a removed M81 stays", "A\nM104\nM104\nM80\nM81\nM80\nM81\nB\n",
       "A\r\nM104\r\nM104 M180\r\nM80\r\nM81\r\nB\r\n"},
      {"M80 as the last line", "A\nM104\nB\nM80", "A\r\nM104 M180\r\nB\r\n"},
      {"nothing to rewrite: saved all the same", "G1 X1\nM80", "G1 X1\r\nM80\r\n"},
      // Line breaks.
      {"LF", "A\nB\n", "A\r\nB\r\n"},
      {"CR", "A\rB\r", "A\r\nB\r\n"},
      {"no break at the end", "A\r\nB", "A\r\nB\r\n"},
      {"empty file", "", ""},
      {"CR LF alone", "\r\n", "\r\n"},
      {"CR alone", "\r", "\r\n"},
      {"LF alone", "\n", "\r\n"},
      {"empty line at the end", "A\r\n\r\n", "A\r\n\r\n"},
      {"LF CR is two breaks", "A\n\rB", "A\r\n\r\nB\r\n"},
      {"CR CR LF is two breaks", "A\r\r\nB", "A\r\n\r\nB\r\n"},
      {"blanks at the end stay", "A  \r\nB\t", "A  \r\nB\t\r\n"},
      {"NUL inside a line", std::string("A\0B\n"sv), std::string("A\0B\r\n"sv)},
      // Marks and encodings.
      {"UTF-8 with its mark", "\xEF\xBB\xBF(Z\xC3\xA4hler)\nM104\nM80\nM81\n",
       "\xEF\xBB\xBF(Z\xC3\xA4hler)\r\nM104 M180\r\n"},
      {"UTF-8 mark alone", "\xEF\xBB\xBF", "\xEF\xBB\xBF"},
      {"UTF-8 without a mark keeps its bytes, no mark added", "\xC3\xA4\n", "\xC3\xA4\r\n"},
      {"shorter than the UTF-8 mark", "\xEF\xBB", "\xEF\xBB\r\n"},
      {"UTF-16LE", Utf16Le(u"A\nM104\nM80\nM81\n\u00C4\u20AC"),
       Utf16Le(u"A\r\nM104 M180\r\n\u00C4\u20AC\r\n")},
      {"UTF-16LE with an odd last byte", std::string("\xFF\xFE" "A\0B"sv),
       std::string("\xFF\xFE" "A\0\r\0\n\0"sv)},
      {"UTF-16BE", Utf16Be(u"A\rM104\rM80\rM81\rB"), Utf16Be(u"A\r\nM104 M180\r\nB\r\n")},
      {"a UTF-32LE mark is read as UTF-16LE", std::string("\xFF\xFE\0\0A\0\0\0"sv),
       std::string("\xFF\xFE\0\0A\0\0\0\r\0\n\0"sv)},
      {"unpaired surrogates and pairs pass", Utf16Le(u"A\n\xD800x\n\xDC00\n\U0001F600\n"),
       Utf16Le(u"A\r\n\xD800x\r\n\xDC00\r\n\U0001F600\r\n")},
      {"a no-break space is no blank", Utf16Le(u"A\nM104\nM80\u00A0\nM81\n"),
       Utf16Le(u"A\r\nM104\r\nM80\u00A0\r\nM81\r\n")},
      {"Windows-1252: every byte as it was",
       "%\r\nO1000 (Stra\xDF" "e \xB0 \xB5m \x80)\nM104\n(" + HighBytes() + ")\nM80\nM81\nM30",
       "%\r\nO1000 (Stra\xDF" "e \xB0 \xB5m \x80)\r\nM104 M180\r\n(" + HighBytes() +
           ")\r\nM30\r\n"},
      // Shift-JIS: 加工開始 and 主軸停止, trail bytes that are a backslash
      // (表ソ十能), half-width katakana, an ideographic space after an M80
      // (no blank: the line reads nothing), a lead byte without its trail
      // byte before a break and at the very end.
      {"Shift-JIS: every byte as it was",
       "%\r\n(\x89\xC1\x8D\x48\x8A\x4A\x8E\x6E)\r\nM104\r\n(\x95\x5C\x83\x5C\x8F\x5C\x94\x5C)\r\n"
       "M80\r\nM81\r\n(\xB1\xB2\xB3)\nM104\nM80\x81\x40\n(\x82)\n(\x8E\xE5\x8E\xB2\x92\xE2\x8E\x7E"
       "\x82\n\x88",
       "%\r\n(\x89\xC1\x8D\x48\x8A\x4A\x8E\x6E)\r\nM104 M180\r\n(\x95\x5C\x83\x5C\x8F\x5C\x94\x5C)"
       "\r\n(\xB1\xB2\xB3)\r\nM104\r\nM80\x81\x40\r\n(\x82)\r\n(\x8E\xE5\x8E\xB2\x92\xE2\x8E\x7E"
       "\x82\r\n\x88\r\n"},
  };
  const std::string part = dir_.File("part.nc");
  for (const ProgramCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(part, c.input);
    RunSilently(part);
    EXPECT_EQ(ReadFile(part), c.output);
  }
  EXPECT_EQ(Leftovers(dir_.path()), std::vector<std::string>{ExecutableName()});
}

struct TapCase {
  const char* input;     // the program file, relative to the directory
  const char* argument;  // argument 1, relative to the directory; nullptr: the full path
  const char* output;    // the .tap file, relative to the directory
};

// With test=1 the result goes to the .tap file beside the input, which
// stays as it was. The extension is the last one of the file name, never a
// dot in a directory name, whichever separator the path uses.
TEST_F(RewriteRun, TapOutputGoesBesideTheInputAndLeavesItAlone) {
  UseTapOutput();
  fs::create_directory(PathOf(dir_.File("jobs.old")));
  // A path longer than 260 characters, the classic limit of Windows paths.
  const std::string deep = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" +
                           std::string(100, 'f');
  fs::create_directories(PathOf(dir_.File(deep)));
  const std::string deep_part = deep + "/part.nc";
  const std::string deep_tap = deep + "/part.tap";
  const TapCase cases[] = {
      {"part.nc", nullptr, "part.tap"},
      {"part", nullptr, "part.tap"},
      {"part.tar.nc", nullptr, "part.tar.tap"},
      {"part.", nullptr, "part.tap"},
      {".nc", nullptr, ".tap"},
      {"PART.NC", nullptr, "PART.tap"},
      {"jobs.old/part", nullptr, "jobs.old/part.tap"},
      {"jobs.old\\part", nullptr, "jobs.old\\part.tap"},
      {"Teil \xC3\xA4 \xE9\x83\xA8\xE5\x93\x81.nc", nullptr, "Teil \xC3\xA4 \xE9\x83\xA8\xE5\x93\x81.tap"},
      {"part.nc", "part.nc", "part.tap"},
      {"jobs.old/part", "jobs.old/part", "jobs.old/part.tap"},
      {deep_part.c_str(), nullptr, deep_tap.c_str()},
      {deep_part.c_str(), deep_part.c_str(), deep_tap.c_str()},
  };
  for (const TapCase& c : cases) {
    SCOPED_TRACE(c.input);
    const std::string input = dir_.File(c.input);
    const std::string output = dir_.File(c.output);
    WriteFile(input, kProgram);
    RunSilently(c.argument != nullptr ? std::string(c.argument) : input);
    EXPECT_EQ(ReadFile(input), kProgram);
    EXPECT_EQ(ReadFile(output), kRewritten);
    fs::remove(PathOf(output));
    fs::remove(PathOf(input));
  }
  std::vector<std::string> left = {std::string(100, 'd'), ExecutableName(), "jobs.old",
                                   SettingsName()};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(Leftovers(dir_.path()), left);
}

TEST_F(RewriteRun, TapInputIsItsOwnOutput) {
  UseTapOutput();
  WriteFile(dir_.File("part.tap"), kProgram);
  RunSilently(dir_.File("part.tap"));
  EXPECT_EQ(ReadFile(dir_.File("part.tap")), kRewritten);
}

// The value of test in [common], as both the Windows private-profile reader
// and the program's own reader on other systems read it.
TEST_F(RewriteRun, SettingsValueSelectsTheOutput) {
  const char* const tap_values[] = {
      "1",  "+1",         "01",   "  1  ", "\t1\t", "$1",         "x1",         "X1",
      "0x1", "0X01",      "0x0001", "-$FFFFFFFF", "\"1\"",      "'1'",
  };
  const char* const other_values[] = {
      "",    "0",    "2",   "-1",  "1.0", "one", "1 2", "- 1",         "-",
      "+",   "$",    "x",   "0x",  "$-1", "=1",  "2147483647", "2147483648", "-2147483648",
      "$7FFFFFFF", "$FFFFFFFF", "$100000000", "1 ; note", "\" 1 \"", "\xE4" "1",
  };
  std::vector<SettingsCase> cases;
  for (const char* value : tap_values) {
    cases.push_back({value, std::string("[common]\ntest=") + value + "\n", true});
  }
  for (const char* value : other_values) {
    cases.push_back({value, std::string("[common]\ntest=") + value + "\n", false});
  }
  ExpectOutputsFor(cases);
}

TEST_F(RewriteRun, SettingsFileIsReadAsAnIniFile) {
  const std::string zeros(2046, '0');
  const SettingsCase cases[] = {
      {"CR LF", "[common]\r\ntest=1\r\n", true},
      {"CR", "[common]\rtest=1\r", true},
      {"no break at the end", "[common]\ntest=1", true},
      {"names ignore case", "[COMMON]\nTest=1\n", true},
      {"blanks around names", " [ common ] \n  test  =1\n", true},
      {"text after the section's bracket", "[common] x\ntest=1\n", true},
      {"among other keys and sections",
       "[tools]\ntest=0\n[common]\nspeed=2\ntest=1\nfeed=3\n[more]\ntest=0\n", true},
      {"the first key of a name wins", "[common]\ntest=1\ntest=0\n", true},
      {"the first section of a name wins", "[common]\ntest=0\n[common]\ntest=1\n", false},
      {"a later section of the name is not consulted", "[common]\nx=0\n[common]\ntest=1\n",
       false},
      {"UTF-8 with its mark", "\xEF\xBB\xBF[common]\ntest=1\n", true},
      {"UTF-16LE with its mark", Utf16Le(u"[common]\r\ntest=1\r\n"), true},
      {"UTF-16BE with its mark", Utf16Be(u"[common]\r\ntest=1\r\n"), true},
      {"2047 characters: read whole", "[common]\ntest=" + zeros + "1\n", true},
      {"2048 characters: cut to 2047", "[common]\ntest=" + zeros + "01\n", false},
      {"key in another section", "[other]\ntest=1\n", false},
      {"key before any section", "test=1\n[common]\n", false},
      {"a comment line", "[common]\n;test=1\n", false},
      {"key without =", "[common]\ntest\n", false},
      {"a blank inside the key", "[common]\nte st=1\n", false},
      {"empty file", "", false},
      {"no settings file", std::nullopt, false},
  };
  ExpectOutputsFor(std::vector<SettingsCase>(std::begin(cases), std::end(cases)));
}

TEST_F(RewriteRun, SettingsFileFollowsTheExecutableName) {
  const std::string other = dir_.File("other" + testing::TextOf(PathOf(executable_).extension()));
  fs::rename(PathOf(executable_), PathOf(other));
  executable_ = other;
  UseTapOutput();  // ncrewrite.ini: not this copy's file
  WriteFile(dir_.File("part.nc"), kProgram);
  RunSilently(dir_.File("part.nc"));
  EXPECT_FALSE(fs::exists(PathOf(dir_.File("part.tap"))));
  WriteFile(dir_.File("other.ini"), "[common]\ntest=1\n");
  WriteFile(dir_.File("part.nc"), kProgram);
  RunSilently(dir_.File("part.nc"));
  EXPECT_TRUE(fs::exists(PathOf(dir_.File("part.tap"))));
}

// An argument that names no existing file: nothing is read or written, not
// even a .tap file.
TEST_F(RewriteRun, NoUsableArgumentDoesNothing) {
  UseTapOutput();
  fs::create_directory(PathOf(dir_.File("folder")));
  ExpectNothingDoneFor({{},
                        {""},
                        {dir_.File("missing.nc")},
                        {"missing.nc"},
                        {dir_.File("missing/part.nc")},
                        {dir_.File("folder")},
                        {dir_.File("folder") + "/"},
                        {"folder"}});
}

/// What stands in a run's way in the failure cases.
enum class Obstacle {
  kNone,
  kDirectoryAtTap,  // part.tap is an empty directory
  kInputHeld,       // part.nc is held by another process (testing/held_file.h)
  kTapHeld,         // part.tap exists and is held by another process
};

struct FailureCase {
  const char* name;
  std::string_view program;  // content of part.nc
  bool tap;                  // the settings select the .tap output
  Obstacle obstacle;
  const char* kind;
  const char* message;  // "{}" stands for the full path of the file named
  const char* named;    // that file, in the directory; nullptr: none
  Reason reason;
  bool deep = false;    // the files lie in a directory whose path is longer than 260 characters
};

// Every kind of failure that a user can meet ends with status 1 and the
// report, and leaves the input, the output and the directory as they were.
TEST_F(RewriteRun, FailuresReportAndLeaveEverythingAsItWas) {
  const FailureCase cases[] = {
      {"ill-formed UTF-8 after the mark", "\xEF\xBB\xBFM104\nM80\n\xFF", false, Obstacle::kNone,
       "EEncodingError",
       "Keine Zuordnung f\xC3\xBCr Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden",
       nullptr, Reason::kNone},
      {"one byte after the UTF-16LE mark", "\xFF\xFE" "A", true, Obstacle::kNone,
       "EEncodingError",
       "Keine Zuordnung f\xC3\xBCr Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden",
       nullptr, Reason::kNone},
      {"a directory at the .tap path", kProgram, true, Obstacle::kDirectoryAtTap,
       "EFCreateError", "Datei \"{}\" kann nicht erstellt werden. ", "part.tap", Reason::kSystem},
      {"the input held by another process", kProgram, false, Obstacle::kInputHeld,
       "EFOpenError", "Datei {} kann nicht ge\xC3\xB6" "ffnet werden. ", "part.nc",
       Reason::kSystem},
      {"the .tap file held by another process", kProgram, true, Obstacle::kTapHeld,
       "EFCreateError", "Datei \"{}\" kann nicht erstellt werden. ", "part.tap", Reason::kSystem},
      {"a directory at the .tap path, deep down", kProgram, true, Obstacle::kDirectoryAtTap,
       "EFCreateError", "Datei \"{}\" kann nicht erstellt werden. ", "part.tap", Reason::kSystem,
       true},
  };
  // Built with the platform's separators, as the full path in a message has them.
  const fs::path deep = dir_.path() / std::string(120, 'g') / std::string(120, 'h');
  fs::create_directories(deep);
  const std::string old_tap = "old .tap content\r\n";
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path directory = c.deep ? deep : dir_.path();
    const std::string part = testing::TextOf(directory / "part.nc");
    const std::string tap = testing::TextOf(directory / "part.tap");
    fs::remove_all(PathOf(tap));
    fs::remove(PathOf(dir_.File(SettingsName())));
    if (c.tap) UseTapOutput();
    WriteFile(part, std::string(c.program));
    if (c.obstacle == Obstacle::kDirectoryAtTap) fs::create_directory(PathOf(tap));
    if (c.obstacle == Obstacle::kTapHeld) WriteFile(tap, old_tap);
    const std::vector<std::string> entries = testing::DirectoryEntries(directory);
    std::optional<testing::HeldFile> held;
    if (c.obstacle == Obstacle::kInputHeld) held.emplace(part);
    if (c.obstacle == Obstacle::kTapHeld) held.emplace(tap);

    const ProgramRun run = Run({part});
    held.reset();

    std::string message = c.message;
    if (c.named != nullptr) {
      message.replace(message.find("{}"), 2, testing::TextOf(directory / c.named));
    }
    ExpectFailureReport(run, executable_, c.kind, message, c.reason);
    EXPECT_EQ(ReadFile(part), c.program);
    EXPECT_EQ(testing::DirectoryEntries(directory), entries);
    if (c.obstacle == Obstacle::kDirectoryAtTap) {
      EXPECT_TRUE(testing::DirectoryEntries(PathOf(tap)).empty());
    }
    if (c.obstacle == Obstacle::kTapHeld) {
      EXPECT_EQ(ReadFile(tap), old_tap);
    }
  }
}

// Sizes and offsets are 64-bit all the way: a program past 2 GiB is rewritten
// like any other, with nothing cut or wrapped. (Too slow for the sanitizer
// build, whose run repeats the same code.)
TEST_F(RewriteRun, ProgramLargerThanTwoGibibytes) {
#ifdef NCREWRITE_SANITIZED
  GTEST_SKIP() << "runs in the optimised build only";
#endif
  constexpr std::uint64_t kFill = (std::uint64_t{1} << 31) + 7;
  const std::string part = dir_.File("big.nc");
  {
    std::ofstream out(PathOf(part), std::ios::binary);
    out << "A\r\nM104\r\n";
    out.seekp(static_cast<std::streamoff>(9 + kFill));  // a hole of NUL bytes: one long line
    out << "\r\nM80\r\nM81\r\nB\r\n";
  }
  RunSilently(part);
  std::ifstream in(PathOf(part), std::ios::binary | std::ios::ate);
  const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
  EXPECT_EQ(size, 14 + kFill + 5);
  std::string head(14, '\0');
  std::string tail(6, 'x');
  in.seekg(0);
  in.read(head.data(), 14);
  in.seekg(static_cast<std::streamoff>(size - 6));
  in.read(tail.data(), 6);
  EXPECT_EQ(head, "A\r\nM104 M180\r\n");
  EXPECT_EQ(tail, std::string("\0\r\nB\r\n", 6));
}

}  // namespace
}  // namespace ncrewrite::e2e
