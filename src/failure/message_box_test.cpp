#include "failure/message_box.h"

#include <gtest/gtest.h>

#include <string>

namespace ncrewrite {
namespace {

std::string written;

void Collect(const char* data, std::size_t size) noexcept { written.append(data, size); }

TEST(WriteBoxLines, CaptionFirstThenTheTextWithPlainLineBreaks) {
  struct Case {
    const char* name;
    std::string text;
    std::string lines;
  };
  const Case cases[] = {
      {"CR LF after every line", "Zeile 1\r\nZeile 2\r\n", "Zeile 1\nZeile 2\n"},
      {"no break at the end", "Zeile 1\r\nZeile 2", "Zeile 1\nZeile 2\n"},
      {"lone CR and LF", "a\rb\nc", "a\nb\nc\n"},
      {"CR CR LF", "a\r\r\nb", "a\n\nb\n"},
      {"empty line 2", "Zeile 1\r\n\r\n", "Zeile 1\n\n"},
      {"empty text", "", "\n"},
      {"UTF-8 goes as it is", "Gr\xC3\xB6\xC3\x9F" "e\r\n", "Gr\xC3\xB6\xC3\x9F" "e\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    written.clear();
    WriteBoxLines("Anwendungsfehler", c.text, Collect);
    EXPECT_EQ(written, "Anwendungsfehler\n" + c.lines);
  }
}

TEST(WriteBoxLines, TextsLongerThanOnePieceGoOutWhole) {
  // A CR LF across the boundary of the pieces, and many pieces after it.
  std::string text(511, 'x');
  text += "\r\n";
  for (int i = 0; i < 40; ++i) text += std::string(100, static_cast<char>('a' + i % 26)) + "\r\n";
  std::string lines = text;
  for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.erase(at, 1);
  written.clear();
  WriteBoxLines("Unexpected Memory Leak", text, Collect);
  EXPECT_EQ(written, "Unexpected Memory Leak\n" + lines);
}

}  // namespace
}  // namespace ncrewrite
