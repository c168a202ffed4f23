// The string table that the resource compiler made from the list of the
// stored texts, read back as the program reads it.

#include "failure/stored_texts.h"

#include <gtest/gtest.h>

#include <string_view>

namespace ncrewrite {
namespace {

struct Entry {
  std::uint32_t number;
  std::string_view text;  // as the C++ compiler reads the list
};

constexpr Entry kList[] = {
#define NCREWRITE_STORED_TEXT(name, number, text) {number, text},
#include "failure/stored_texts.inc"
#undef NCREWRITE_STORED_TEXT
};

// The two compilers read the same literals: escapes, code page and the room
// that the program reads each text into must give the same words.
TEST(StoredText, TheStringTableSaysWhatTheListSays) {
  for (const Entry& entry : kList) {
    EXPECT_EQ(StoredText(entry.number), entry.text) << entry.number;
    EXPECT_EQ(BuiltInStoredText(entry.number), entry.text) << entry.number;
  }
  EXPECT_EQ(StoredText(65491), "");
  EXPECT_EQ(StoredText(1), "");
}

TEST(StoredText, EachTextStaysWhereItsViewShowsIt) {
  const std::string_view format = StoredText(stored_text::kFailureReportFormat);
  const std::string_view caption = StoredText(stored_text::kFailureReportCaption);
  const std::string_view again = StoredText(stored_text::kFailureReportFormat);
  StoredText(stored_text::kOutOfMemoryMessage);
  EXPECT_EQ(format, BuiltInStoredText(stored_text::kFailureReportFormat));
  EXPECT_EQ(caption, BuiltInStoredText(stored_text::kFailureReportCaption));
  EXPECT_EQ(again.data(), format.data());
}

}  // namespace
}  // namespace ncrewrite
