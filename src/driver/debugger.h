#pragma once

namespace ncrewrite {

/// True when a debugger is attached to the process at this moment.
bool IsDebuggerAttached() noexcept;

}  // namespace ncrewrite
