#include <windows.h>

#include "failure/process_exit.h"

namespace ncrewrite {

// The system's own end of a process: every DLL is told that the process
// detaches, and the status reaches whoever waits for it unchanged (an
// unsigned 32-bit value there, so -1 arrives as 4294967295).
void ExitWithStatus(int status) noexcept { ::ExitProcess(static_cast<UINT>(status)); }

}  // namespace ncrewrite
