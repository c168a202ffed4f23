#pragma once

// The entry point that the platform calls (entry_<platform>.cpp) is shared
// by every program of the project: it hands the platform's command line to
// GetCommandArgument and runs the process's life (RunProcess) around the
// program's own run phase, which each program defines.

namespace ncrewrite {

/// The run phase of the program that links the entry point: RunRewrite for
/// ncrewrite itself. Raises what the run raises.
void ProgramRunPhase();

}  // namespace ncrewrite
