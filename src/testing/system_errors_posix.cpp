#include "testing/system_errors.h"

#include <cerrno>

namespace ncrewrite::testing {

const int kNoSuchFileError = ENOENT;
const int kNoSuchDirectoryError = ENOENT;

}  // namespace ncrewrite::testing
