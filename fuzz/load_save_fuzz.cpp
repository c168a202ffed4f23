// Loads any bytes as a program file and saves the lines again: a load either
// fails cleanly with the decoding failure, leaving the lines as they were,
// or gives lines that come back unchanged from a save and a second load,
// and a second save writes the same bytes as the first.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure/failure.h"
#include "fuzz_support.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

using namespace ncrewrite;
using fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string directory = fuzz::ScratchDirectory();
  const std::string input = directory + "/input.nc";
  const std::string first_save = directory + "/first.nc";
  const std::string second_save = directory + "/second.nc";
  fuzz::WriteBytes(input, std::string_view(reinterpret_cast<const char*>(data), size));

  const std::vector<std::u16string> previous = {u"M104", u"PREVIOUS"};
  LineList lines = LineList::FromLines(Utf16LeEncoding(), previous);
  try {
    LoadTextFile(lines, input);
  } catch (const Failure& failure) {
    Require(failure.kind() == "EEncodingError", "only a decoding failure is expected");
    Require(lines.DecodedLines() == previous, "a failed load keeps the lines");
    return 0;
  }
  const std::vector<std::u16string> loaded = lines.DecodedLines();
  for (const std::u16string& line : loaded) {
    Require(line.find_first_of(u"\r\n") == std::u16string::npos, "no line holds CR or LF");
  }

  SaveTextFile(lines, first_save);
  LineList again;
  LoadTextFile(again, first_save);
  Require(again.remembered_encoding() == lines.remembered_encoding(), "same encoding after save");
  Require(again.DecodedLines() == loaded, "same lines after save and load");

  SaveTextFile(again, second_save);
  Require(fuzz::ReadBytes(first_save) == fuzz::ReadBytes(second_save), "saving is stable");
  return 0;
}
