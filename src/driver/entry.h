#pragma once

// The entry point that the platform calls (entry_<platform>.cpp) is shared
// by every program of the project: it hands the platform's command line to
// GetCommandArgument and runs the process's life (RunProcess) around the
// program's own run phase, which each program defines, together with its
// own start-up and shutdown work.

namespace ncrewrite {

/// The run phase of the program that links the entry point: RunRewrite for
/// ncrewrite itself. Raises what the run raises.
void ProgramRunPhase();

/// The program's own start-up work, done after the entry point's own (the
/// command line can be asked for) and before the out-of-memory failure is
/// made. May raise. ncrewrite has none; a test build fails here to show
/// what a failed start-up does.
void ProgramSetUp();

/// Releases what ProgramSetUp made, also when it failed half-way, before the
/// entry point releases its own. May raise. ncrewrite has none.
void ProgramTearDown();

}  // namespace ncrewrite
