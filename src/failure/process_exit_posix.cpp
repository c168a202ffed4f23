#include <cstdlib>

#include "failure/process_exit.h"

namespace ncrewrite {

// The C library's exit, so that the C streams are flushed as usual.
void ExitWithStatus(int status) noexcept { std::exit(status); }

}  // namespace ncrewrite
