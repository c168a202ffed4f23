// The settings reader on any file content: it never fails, gives at most
// the longest value it may, never a value with a line break or a NUL, and a
// key at the top of the file is found whatever follows (the first one wins).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/parse_integer.h"
#include "driver/profile.h"
#include "fuzz_support.h"
#include "textfile/text_encoding.h"

using namespace ncrewrite;
using fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string content =
      DecodeProfile(std::string_view(reinterpret_cast<const char*>(data), size),
                    Windows1252Encoding());
  const std::u16string value = FindProfileValue(content, u"common", u"test");
  Require(value.size() <= kMaxSettingsValue, "value within its limit");
  Require(value.find_first_of(u"\r\n") == std::u16string::npos, "value holds no line break");
  Require(value.find(u'\0') == std::u16string::npos, "value ends at a NUL");
  static_cast<void>(ParseInteger(value, 0));

  const std::u16string first = u"[Common]\r\n test = 7 \r\n" + content;
  Require(FindProfileValue(first, u"common", u"test") == u"7", "first section and key win");
  return 0;
}
