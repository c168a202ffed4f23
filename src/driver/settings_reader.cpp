#include "driver/settings_reader.h"

#include "driver/parse_integer.h"

namespace ncrewrite {

std::int32_t SettingsReader::ReadNumber(std::u16string_view section, std::u16string_view key,
                                        std::int32_t fallback) const {
  return ParseInteger(ReadText(section, key), fallback);
}

}  // namespace ncrewrite
