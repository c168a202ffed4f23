// The rewrite rule against its slow transcription, on any bytes loaded as a
// program file is: the encoding is told by the byte-order mark, and lines
// end at CR LF, a lone CR or a lone LF, so that every kind of break reaches
// the rule's block walks. The rewritten list also survives a save and a
// load, which walks the recorded edits another way.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/rewrite_rule.h"
#include "failure/failure.h"
#include "fuzz_support.h"
#include "testing/rewrite_oracle.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

using namespace ncrewrite;
using fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string directory = fuzz::ScratchDirectory();
  const std::string input = directory + "/program.nc";
  const std::string output = directory + "/rewritten.nc";
  fuzz::WriteBytes(input, std::string_view(reinterpret_cast<const char*>(data), size));

  LineList lines;
  try {
    LoadTextFile(lines, input);
  } catch (const Failure& failure) {
    // Ill-formed text is refused before the rule runs (fuzz_load_save looks
    // at how).
    Require(failure.kind() == "EEncodingError", "only a decoding failure is expected");
    return 0;
  }
  const std::vector<std::u16string> expected = testing::RewriteSlowly(lines.DecodedLines());

  ApplyRewriteRule(lines);
  Require(lines.DecodedLines() == expected, "rule agrees with the slow transcription");

  SaveTextFile(lines, output);
  LineList loaded;
  LoadTextFile(loaded, output);
  Require(loaded.remembered_encoding() == lines.remembered_encoding(), "same encoding after save");
  Require(loaded.DecodedLines() == expected, "rewritten lines survive save and load");
  return 0;
}
