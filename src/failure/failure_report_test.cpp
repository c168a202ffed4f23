#include "failure/failure_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ncrewrite {
namespace {

// The tests run in ncrewrite_tests, so that is the module of its own code
// (with the extension that the platform gives programs).
constexpr const char* kTestModule = NCREWRITE_TESTS_FILE_NAME;

std::string ReportLine1(std::string_view kind, std::string_view module, std::string_view offset) {
  return "Exception " + std::string(kind) + " in Modul " + std::string(module) + " bei " +
         std::string(offset) + ".\r\n";
}

struct ReportCase {
  const char* name;
  std::string message;
  std::string second_line;
};

TEST(FormatFailureReportTest, AddsAPeriodOnlyWhereTheMessageLacksOne) {
  const ReportCase cases[] = {
      {"ends with a period", "Datei fehlt.", "Datei fehlt.\r\n"},
      {"no period", "Datei fehlt", "Datei fehlt.\r\n"},
      {"empty", "", "\r\n"},
      {"ends with a blank", "Datei fehlt ", "Datei fehlt .\r\n"},
      {"ends with a line break", "Datei fehlt\r\n", "Datei fehlt\r\n.\r\n"},
      {"ends with two periods", "Warten..", "Warten..\r\n"},
      {"umlaut at the end", "Gr\u00f6\u00dfe", "Gr\u00f6\u00dfe.\r\n"},
      {"markup stays as it is", "<b>&amp;</b>", "<b>&amp;</b>.\r\n"},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatFailureReport(Failure("EFOpenError", c.message, 0)),
              ReportLine1("EFOpenError", kTestModule, "0000000000000000") + c.second_line);
  }
}

TEST(FormatFailureReportTest, StopsAfter1024CharactersWithoutSplittingOne) {
  const std::string line1 = ReportLine1("EWriteError", kTestModule, "0000000000000000");
  const std::size_t room = kFailureReportLimit - line1.size();  // line 1 is ASCII

  const std::string ascii(2000, 'x');
  EXPECT_EQ(FormatFailureReport(Failure("EWriteError", ascii, 0)),
            line1 + ascii.substr(0, room));

  // Characters are counted, not bytes: each "\u00e4" is two bytes in UTF-8.
  std::string umlauts;
  for (int i = 0; i < 1100; ++i) umlauts += "\u00e4";
  EXPECT_EQ(FormatFailureReport(Failure("EWriteError", umlauts, 0)),
            line1 + umlauts.substr(0, 2 * room));

  // A character beyond U+FFFF counts two (UTF-16), and is dropped whole when
  // only one place is left.
  const std::string before(room - 1, 'y');
  EXPECT_EQ(FormatFailureReport(Failure("EWriteError", before + "\U0001F600z", 0)),
            line1 + before);

  // Just short of the limit nothing is cut.
  const std::string fits(room - 3, 'z');
  EXPECT_EQ(FormatFailureReport(Failure("EWriteError", fits, 0)), line1 + fits + ".\r\n");
}

TEST(FormatFailureReportTest, AnAddressInNoModuleCountsFromTheAssumedImageBase) {
  const auto block = std::make_unique<int>(0);  // heap memory belongs to no module
  const auto address = reinterpret_cast<std::uintptr_t>(block.get());
  char offset[17];
  std::snprintf(offset, sizeof offset, "%016llX",
                static_cast<unsigned long long>(address - 0x1000));
  EXPECT_EQ(FormatFailureReport(Failure("EOutOfMemory", "Zu wenig Arbeitsspeicher", address)),
            ReportLine1("EOutOfMemory", kTestModule, offset) + "Zu wenig Arbeitsspeicher.\r\n");
}

TEST(LocateCodeTest, ZeroAndAddressesInNoModuleGiveTheExecutable) {
  EXPECT_EQ(LocateCode(0).module_name, kTestModule);
  EXPECT_EQ(LocateCode(0).offset, 0u);
  // "Less 4096" is unsigned: a small address wraps around.
  EXPECT_EQ(LocateCode(1).module_name, kTestModule);
  EXPECT_EQ(LocateCode(1).offset, 0xFFFFFFFFFFFFF001u);
}

TEST(FormatRuntimeErrorReportTest, RightAlignsTheNumberAndShowsTheAbsoluteAddress) {
  struct Case {
    int number;
    std::uint64_t address;
    std::string_view text;
  };
  const Case cases[] = {
      {217, 0x401A2B, "Runtime error 217 at 0000000000401A2B"},
      {203, 0, "Runtime error 203 at 0000000000000000"},
      {203, 0xFFFFFFFFFFFFFFFF, "Runtime error 203 at FFFFFFFFFFFFFFFF"},
      {42, 0xabcdef, "Runtime error  42 at 0000000000ABCDEF"},
      {5, 0x10, "Runtime error   5 at 0000000000000010"},
  };
  for (const Case& c : cases) {
    const RuntimeErrorText text = FormatRuntimeErrorReport(c.number, c.address);
    EXPECT_EQ(text.view(), c.text);
    EXPECT_EQ(text.chars.back(), '\0');
  }
}

}  // namespace
}  // namespace ncrewrite
