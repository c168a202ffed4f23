#include "driver/replace_extension.h"

namespace ncrewrite {

// A dot before the last '/' belongs to a directory name, never to the
// extension of the file name.
PathStyle NativePathStyle() { return PathStyle::kPosix; }

}  // namespace ncrewrite
