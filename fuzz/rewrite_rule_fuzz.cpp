// The rewrite rule against its slow transcription, on lines built from the
// input in any of the four encodings; the rewritten list also survives a
// save and a load, which walks the recorded edits another way.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/rewrite_rule.h"
#include "fuzz_support.h"
#include "testing/rewrite_oracle.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

using namespace ncrewrite;
using fuzz::Require;

namespace {

const TextEncoding& ChooseEncoding(std::uint8_t selector) {
  switch (selector % 4) {
    case 0: return Utf8Encoding();
    case 1: return Utf16LeEncoding();
    case 2: return Utf16BeEncoding();
    default: return SystemCodePage();
  }
}

/// Lines end at CR or LF; every other byte is one character of that code,
/// so that the fuzzer can spell codes and blanks byte by byte.
std::vector<std::u16string> SplitLines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::u16string> lines(1);
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == '\r' || data[k] == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(static_cast<char16_t>(data[k]));
    }
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const TextEncoding& encoding = ChooseEncoding(data[0]);
  LineList lines = LineList::FromLines(encoding, SplitLines(data + 1, size - 1));
  // The oracle gets the lines as the list holds them: a character that the
  // code page cannot store is already replaced there.
  const std::vector<std::u16string> expected = testing::RewriteSlowly(lines.DecodedLines());

  ApplyRewriteRule(lines);
  Require(lines.DecodedLines() == expected, "rule agrees with the slow transcription");

  // Text in a code page without a byte-order mark that begins with the bytes
  // of one is read back in that mark's encoding: the format cannot tell.
  const std::string head = EncodeText(encoding, expected.front());
  if (encoding.byte_order_mark.empty() &&
      (head.starts_with("\xEF\xBB\xBF") || head.starts_with("\xFF\xFE") ||
       head.starts_with("\xFE\xFF"))) {
    return 0;
  }
  const std::string path = fuzz::ScratchDirectory() + "/rewritten.nc";
  SaveTextFile(lines, path);
  LineList loaded;
  LoadTextFile(loaded, path);
  Require(loaded.DecodedLines() == expected, "rewritten lines survive save and load");
  return 0;
}
