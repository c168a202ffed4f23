#pragma once

namespace ncrewrite {

/// True when a debugger is attached to the process at this moment. Each
/// platform answers in debugger_<platform>.cpp, without allocating and
/// without failing: false when it cannot tell.
bool IsDebuggerAttached() noexcept;

}  // namespace ncrewrite
