#include "driver/profile.h"
#include "textfile/file_io.h"
#include "textfile/text_encoding.h"

namespace ncrewrite {

// POSIX systems have no private-profile reader of their own: the portable
// one stands in, on the file as it is at each lookup.
std::u16string ReadProfileString(const std::string& path, std::u16string_view section,
                                 std::u16string_view key) {
  const std::string bytes = ReadSmallFile(path).value_or(std::string());
  return FindProfileValue(DecodeProfile(bytes, SystemCodePage()), section, key);
}

// Nothing caches a copy of the file here.
void FlushProfileCache(const std::string&) noexcept {}

}  // namespace ncrewrite
