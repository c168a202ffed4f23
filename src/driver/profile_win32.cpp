// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include "driver/profile.h"

namespace ncrewrite {

std::u16string ReadProfileString(const std::string&, std::u16string_view, std::u16string_view) {
  return {};
}
void FlushProfileCache(const std::string&) noexcept {}

}  // namespace ncrewrite
