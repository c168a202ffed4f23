#include "textfile/text_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "testing/system_errors.h"
#include "testing/temp_dir.h"
#include "textfile/file_io.h"

namespace ncrewrite {
namespace {

using Lines = std::vector<std::u16string>;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct ByteCase {
  const char* name;
  std::string_view bytes;
  Lines lines;
  const TextEncoding& encoding;
  std::string_view saved;
};

/// The two ways a platform may load a file: both must give the same list.
struct Loader {
  const char* name;
  FileBytes (*load)(const std::string& path);
};
const Loader kLoaders[] = {{"view", ViewWholeFile}, {"read", ReadWholeFile}};

/// What a load of a file gave, and what saving that list gave.
struct RoundTrip {
  Lines lines;
  const TextEncoding* encoding;
  std::string saved;
};

/// Loads `bytes` from a file and saves the list again to a new file. A file
/// without a mark is read in Windows-1252 whatever the system's code page,
/// so that the cases hold on every system; the other code pages have tests
/// of their own where the platform has them.
RoundTrip LoadAndSave(const TempDir& dir, std::string_view bytes, const Loader& loader) {
  WriteFile(dir.File("in.nc"), bytes);
  LineList list;
  LoadTextBytes(list, loader.load(dir.File("in.nc")), Windows1252Encoding());
  RoundTrip trip{list.DecodedLines(), list.remembered_encoding(), {}};
  SaveTextFile(list, dir.File("out.nc"));
  trip.saved = ReadFile(dir.File("out.nc"));
  return trip;
}

TEST(TextFile, LoadsSplitsAndSavesBytes) {
  using namespace std::string_view_literals;
  const TextEncoding& ansi = Windows1252Encoding();
  const ByteCase cases[] = {
      {"LF", "M104\nM80\n", {u"M104", u"M80"}, ansi, "M104\r\nM80\r\n"},
      {"CR", "A\rB\r", {u"A", u"B"}, ansi, "A\r\nB\r\n"},
      {"no final break", "A\r\nB", {u"A", u"B"}, ansi, "A\r\nB\r\n"},
      {"empty file", "", {}, ansi, ""},
      {"CR LF only", "\r\n", {u""}, ansi, "\r\n"},
      {"CR only", "\r", {u""}, ansi, "\r\n"},
      {"LF only", "\n", {u""}, ansi, "\r\n"},
      {"empty last line", "A\r\n\r\n", {u"A", u""}, ansi, "A\r\n\r\n"},
      {"LF CR", "A\n\rB", {u"A", u"", u"B"}, ansi, "A\r\n\r\nB\r\n"},
      {"CR CR LF", "A\r\r\nB", {u"A", u"", u"B"}, ansi, "A\r\n\r\nB\r\n"},
      {"NUL", "A\0B\n"sv, {std::u16string(u"A\0B", 3)}, ansi, "A\0B\r\n"sv},
      {"blanks stay", "A  \r\n", {u"A  "}, ansi, "A  \r\n"},
      {"UTF-8", "\xEF\xBB\xBF\xC3\xA4\n", {u"ä"}, Utf8Encoding(), "\xEF\xBB\xBF\xC3\xA4\r\n"},
      {"UTF-8 mark alone", "\xEF\xBB\xBF", {}, Utf8Encoding(), "\xEF\xBB\xBF"},
      {"UTF-8 without mark", "\xC3\xA4\n", {u"Ã¤"}, ansi, "\xC3\xA4\r\n"},
      {"shorter than UTF-8 mark", "\xEF\xBB", {u"ï»"}, ansi, "\xEF\xBB\r\n"},
      {"UTF-8 beyond the BMP", "\xEF\xBB\xBF\xF0\x9F\x98\x80", {u"\U0001F600"}, Utf8Encoding(),
       "\xEF\xBB\xBF\xF0\x9F\x98\x80\r\n"},
      {"UTF-16LE", "\xFF\xFE" "A\0\n\0"sv, {u"A"}, Utf16LeEncoding(),
       "\xFF\xFE" "A\0\r\0\n\0"sv},
      {"UTF-16LE CR", "\xFF\xFE" "A\0\r\0B\0"sv, {u"A", u"B"}, Utf16LeEncoding(),
       "\xFF\xFE" "A\0\r\0\n\0B\0\r\0\n\0"sv},
      {"UTF-16LE odd byte", "\xFF\xFE" "A\0B"sv, {u"A"}, Utf16LeEncoding(),
       "\xFF\xFE" "A\0\r\0\n\0"sv},
      {"UTF-16BE", "\xFE\xFF\0A\0\n"sv, {u"A"}, Utf16BeEncoding(), "\xFE\xFF\0A\0\r\0\n"sv},
      {"UTF-32LE mark read as UTF-16LE", "\xFF\xFE\0\0A\0\0\0"sv,
       {std::u16string(u"\0A\0", 3)}, Utf16LeEncoding(), "\xFF\xFE\0\0A\0\0\0\r\0\n\0"sv},
      {"UTF-16 unpaired surrogate", "\xFF\xFE\x00\xD8" "A\0"sv, {u"\xD800" u"A"},
       Utf16LeEncoding(), "\xFF\xFE\x00\xD8" "A\0\r\0\n\0"sv},
      {"Windows-1252 undefined bytes", "\x81\x8D\x8F\x90\x9D\x80\xFF",
       {u"\u0081\u008D\u008F\u0090\u009D\u20AC\u00FF"}, ansi,
       "\x81\x8D\x8F\x90\x9D\x80\xFF\r\n"},
  };
  for (const Loader& loader : kLoaders) {
    for (const ByteCase& c : cases) {
      TempDir dir;
      const RoundTrip trip = LoadAndSave(dir, c.bytes, loader);
      EXPECT_EQ(trip.lines, c.lines) << c.name << " by " << loader.name;
      EXPECT_EQ(trip.encoding, &c.encoding) << c.name << " by " << loader.name;
      EXPECT_EQ(trip.saved, c.saved) << c.name << " by " << loader.name;
    }
  }
}

TEST(TextFile, LoadReplacesLinesAlreadyInTheList) {
  TempDir dir;
  LineList list = LineList::FromLines(Utf16LeEncoding(), {u"old", u"lines"});
  WriteFile(dir.File("empty.nc"), "");
  LoadTextFile(list, dir.File("empty.nc"));
  EXPECT_TRUE(list.DecodedLines().empty());
  EXPECT_EQ(list.remembered_encoding(), &SystemCodePage());
}

TEST(TextFile, SavesNoLinesAsTheMarkAlone) {
  TempDir dir;
  LineList marked = LineList::FromLines(Utf8Encoding(), {});
  SaveTextFile(marked, dir.File("utf8.nc"));
  EXPECT_EQ(ReadFile(dir.File("utf8.nc")), "\xEF\xBB\xBF");
  LineList fresh;
  SaveTextFile(fresh, dir.File("new.nc"));
  EXPECT_EQ(ReadFile(dir.File("new.nc")), "");
}

TEST(TextFile, LongLinesAndManyLinesSurviveTheOutputBuffer) {
  TempDir dir;
  std::string bytes;
  const std::string long_line(3 << 20, 'x');  // longer than the output buffer
  bytes += long_line + "\n";
  for (int i = 0; i < 100000; ++i) bytes += "G1 X" + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
  std::string expected;
  expected += long_line + "\r\n";
  for (int i = 0; i < 100000; ++i) expected += "G1 X" + std::to_string(i) + "\r\n";
  for (const Loader& loader : kLoaders) {
    EXPECT_EQ(LoadAndSave(dir, bytes, loader).saved, expected) << loader.name;
  }
}

TEST(TextFile, SavesEditedLinesWithAnyBreaksInEveryUnitFormat) {
  // Short lines, edits and lone breaks near the end of the file and of the
  // loaded buffer, which short pieces are copied from in fixed widths.
  TempDir dir;
  std::mt19937 random(20261210);
  static const std::u16string_view kPieces[] = {u"M104", u"M80", u"A", u" ", u"\r", u"\n",
                                                u"\r\n", u"\u00e4"};
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<std::size_t> length(0, 200);
  std::uniform_int_distribution<int> percent(0, 99);
  const TextEncoding* encodings[] = {&SystemCodePage(), &Utf8Encoding(), &Utf16LeEncoding(),
                                     &Utf16BeEncoding()};
  for (std::size_t round = 0; round < 200; ++round) {
    const TextEncoding& encoding = *encodings[round % std::size(encodings)];
    std::u16string text;
    for (std::size_t n = length(random); n > 0; --n) text += kPieces[piece(random)];
    const std::string bytes = std::string(encoding.byte_order_mark) + EncodeText(encoding, text);
    if (encoding.byte_order_mark.empty() && bytes.starts_with("\xEF\xBB\xBF")) continue;
    WriteFile(dir.File("in.nc"), bytes);
    LineList list;
    LoadTextFile(list, dir.File("in.nc"));
    list.SetReplacementText(u"M104 M180");
    for (std::uint64_t line = 0; line < text.size(); ++line) {
      const int choice = percent(random);
      if (choice < 20) list.MarkLine(line, LineList::LineMark::kDropped);
      if (choice >= 80) list.MarkLine(line, LineList::LineMark::kReplaced);
    }
    std::string expected(encoding.byte_order_mark);
    for (const std::u16string& line : list.DecodedLines()) {
      expected += EncodeText(encoding, line + u"\r\n");
    }
    SaveTextFile(list, dir.File("out.nc"));
    ASSERT_EQ(ReadFile(dir.File("out.nc")), expected) << "round " << round;
  }
}

TEST(TextFile, SavesLinesOfEveryLengthWithLoneBreaksUpToTheEnd) {
  // Kept lines before a lone break are copied in fixed widths of 16 and 64
  // bytes, with a check of the room to read after them only near the end:
  // lines of 0 to 70 units, some edited, shifted through a block, with the
  // file ending at a break, without one, and at a CR that ends a block.
  TempDir dir;
  const TextEncoding* encodings[] = {&SystemCodePage(), &Utf16LeEncoding()};
  for (const TextEncoding* encoding : encodings) {
    for (std::size_t pad = 0; pad < 64; pad += 7) {
      for (const std::u16string_view line_break : {u"\n", u"\r"}) {
        for (const std::u16string_view tail : {u"", u"G1 X1", u"\r"}) {
          std::u16string text(pad, u'P');
          text += line_break;
          for (std::size_t length = 0; length <= 70; ++length) {
            text += std::u16string(length, static_cast<char16_t>(u'a' + length % 26));
            text += line_break;
          }
          text += tail;
          const std::string bytes = EncodeText(*encoding, text);
          WriteFile(dir.File("in.nc"), std::string(encoding->byte_order_mark) + bytes);
          LineList list;
          LoadTextFile(list, dir.File("in.nc"));
          list.SetReplacementText(u"M104 M180");
          for (std::uint64_t line = 5; line < 75; line += 9) {
            list.MarkLine(line, LineList::LineMark::kReplaced);
            list.MarkLine(line + 4, LineList::LineMark::kDropped);
          }
          std::string expected(encoding->byte_order_mark);
          for (const std::u16string& line : list.DecodedLines()) {
            expected += EncodeText(*encoding, line + u"\r\n");
          }
          SaveTextFile(list, dir.File("out.nc"));
          ASSERT_EQ(ReadFile(dir.File("out.nc")), expected)
              << encoding->name << " pad " << pad << " tail " << tail.size();
        }
      }
    }
  }
}

/// Loads `path` into `list` and returns the failure it raised.
Failure LoadFailure(LineList& list, const std::string& path) {
  try {
    LoadTextFile(list, path);
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure for " << path;
  return Failure("", "", 0);
}

TEST(TextFile, DecodingFailureKeepsLinesButTakesTheEncoding) {
  using namespace std::string_view_literals;
  const std::string_view bad_inputs[] = {
      "\xEF\xBB\xBF\xFF\n",          // not UTF-8 at all
      "\xEF\xBB\xBF\xC0\x80",         // overlong NUL
      "\xEF\xBB\xBF\xED\xA0\x80",     // encoded surrogate
      "\xEF\xBB\xBF\xF4\x90\x80\x80", // above U+10FFFF
      "\xEF\xBB\xBF" "A\xC3",         // cut off at the end
      "\xEF\xBB\xBF\x80",             // stray continuation byte
      "\xFF\xFE" "A",                 // one byte after a UTF-16 mark
      "\xFE\xFF" "A",
  };
  for (const std::string_view bytes : bad_inputs) {
    TempDir dir;
    WriteFile(dir.File("bad.nc"), bytes);
    LineList list = LineList::FromLines(Windows1252Encoding(), {u"kept"});
    const Failure failure = LoadFailure(list, dir.File("bad.nc"));
    EXPECT_EQ(failure.kind(), "EEncodingError");
    EXPECT_EQ(failure.message(),
              "Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden");
    EXPECT_EQ(list.DecodedLines(), Lines{u"kept"});
    EXPECT_NE(list.remembered_encoding(), &Windows1252Encoding());
  }
}

TEST(TextFile, SaveAfterFailedDecodeConvertsToTheNewEncoding) {
  TempDir dir;
  WriteFile(dir.File("bad.nc"), "\xEF\xBB\xBF\xFF");
  LineList list = LineList::FromLines(Windows1252Encoding(), {u"\u00e4"});
  LoadFailure(list, dir.File("bad.nc"));
  SaveTextFile(list, dir.File("out.nc"));
  EXPECT_EQ(ReadFile(dir.File("out.nc")), "\xEF\xBB\xBF\xC3\xA4\r\n");
}

TEST(TextFile, OpenFailureNamesTheFullPathAndLeavesTheListAlone) {
  TempDir dir;
  LineList list = LineList::FromLines(Utf8Encoding(), {u"kept"});
  const std::string missing = dir.File("sub/../missing.nc");
  std::filesystem::create_directory(dir.File("sub"));
  const Failure failure = LoadFailure(list, missing);
  EXPECT_EQ(failure.kind(), "EFOpenError");
  EXPECT_EQ(failure.message(), "Datei " + dir.File("missing.nc") + " kann nicht geöffnet werden. " +
                                   SystemErrorText(testing::kNoSuchFileError));
  EXPECT_NE(failure.address(), 0u);
  EXPECT_EQ(list.DecodedLines(), Lines{u"kept"});
  EXPECT_EQ(list.remembered_encoding(), &Utf8Encoding());
}

// The save's promises about the user's file on the file systems and with
// the faults of each platform are in safe_save_posix_test.cpp.
TEST(TextFile, SaveReplacesTheContentAndLeavesNoOtherFile) {
  TempDir dir;
  const std::string out = dir.File("part.nc");
  WriteFile(out, "OLD CONTENT, LONGER THAN THE NEW ONE\n");
  LineList list = LineList::FromLines(SystemCodePage(), {u"NEW", u""});
  SaveTextFile(list, out);
  EXPECT_EQ(ReadFile(out), "NEW\r\n\r\n");
  EXPECT_EQ(testing::DirectoryEntries(dir.path()), std::vector<std::string>{"part.nc"});
}

// Another program writes to the program between its load and the save
// over it: what it wrote stays, whichever way the program was loaded, and
// the run fails instead of putting a result made from the old bytes there.
TEST(TextFile, ProgramWrittenToSinceTheLoadIsNotSavedOver) {
  struct Change {
    const char* name;
    void (*make)(const std::string& path);
    const char* left;
  };
  const Change changes[] = {
      {"a line appended",
       [](const std::string& path) {
         std::ofstream(testing::PathOf(path), std::ios::binary | std::ios::app) << "M30\n";
       },
       "G1 X1\nM80\nM30\n"},
      {"cut short",
       [](const std::string& path) { std::filesystem::resize_file(testing::PathOf(path), 3); },
       "G1 "},
  };
  for (const Loader& loader : kLoaders) {
    for (const Change& change : changes) {
      SCOPED_TRACE(std::string(loader.name) + ", " + change.name);
      TempDir dir;
      const std::string part = dir.File("part.nc");
      WriteFile(part, "G1 X1\nM80\n");
      LineList list;
      LoadTextBytes(list, loader.load(part), Windows1252Encoding());
      change.make(part);
      try {
        SaveTextFile(list, part, SaveTarget::kTheLoadedFile);
        ADD_FAILURE() << "no failure";
      } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), "EReadError");
        EXPECT_EQ(failure.message(), "Stream-Lesefehler");
      }
      EXPECT_EQ(ReadFile(part), change.left);
      EXPECT_EQ(testing::DirectoryEntries(dir.path()), std::vector<std::string>{"part.nc"});
    }
  }
}

TEST(TextFile, CreateFailureNamesTheFullPathWithoutTheFinalStop) {
  TempDir dir;
  const std::string target = (dir.path() / "no-such-dir" / "part.nc").string();
  try {
    LineList fresh;
    SaveTextFile(fresh, target);
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), "EFCreateError");
    EXPECT_EQ(failure.message(), "Datei \"" + target + "\" kann nicht erstellt werden. " +
                                     SystemErrorText(testing::kNoSuchDirectoryError));
  }
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace ncrewrite
