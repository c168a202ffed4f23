#include "driver/settings_reader.h"

#include "driver/parse_integer.h"
#include "driver/profile.h"

namespace ncrewrite {

SettingsReader::~SettingsReader() { FlushProfileCache(path_); }

std::u16string SettingsReader::ReadText(std::u16string_view section,
                                        std::u16string_view key) const {
  return ReadProfileString(path_, section, key);
}

std::int32_t SettingsReader::ReadNumber(std::u16string_view section, std::u16string_view key,
                                        std::int32_t fallback) const {
  return ParseInteger(ReadText(section, key), fallback);
}

}  // namespace ncrewrite
