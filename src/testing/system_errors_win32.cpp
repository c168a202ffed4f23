#include "testing/system_errors.h"

#include <windows.h>

namespace ncrewrite::testing {

const int kNoSuchFileError = ERROR_FILE_NOT_FOUND;
const int kNoSuchDirectoryError = ERROR_PATH_NOT_FOUND;

}  // namespace ncrewrite::testing
