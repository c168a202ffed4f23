// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include "failure/message_box.h"

namespace ncrewrite {

void PresentBox(std::string_view, std::string_view, BoxIcon) noexcept {}

}  // namespace ncrewrite
