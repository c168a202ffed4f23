// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include "driver/replace_extension.h"

namespace ncrewrite {

PathStyle NativePathStyle() { return PathStyle::kWindows; }

}  // namespace ncrewrite
