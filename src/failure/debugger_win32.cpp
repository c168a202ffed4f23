#include <windows.h>

#include "failure/debugger.h"

namespace ncrewrite {

bool IsDebuggerAttached() noexcept { return ::IsDebuggerPresent() != FALSE; }

}  // namespace ncrewrite
