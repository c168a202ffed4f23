#pragma once

// Test support for the tests that only Windows runs (*_win32_test.cpp): a
// program started with a command line of the test's own making, for the
// cases that no list of arguments can express.

#include <string>

#include "testing/run_program.h"

namespace ncrewrite::testing {

/// Starts `program` like StartProgram, but with exactly `command_line`
/// (UTF-8) as its command line: GetCommandLineW in the program gives it back
/// unchanged, whatever quotes, blanks and control characters it holds, and
/// even when it does not begin with the program's path.
RunningProgram StartProgramWithCommandLine(const std::string& program,
                                           const std::string& command_line,
                                           const ProgramOptions& options = {});

/// StartProgramWithCommandLine, then Wait.
ProgramRun RunProgramWithCommandLine(const std::string& program, const std::string& command_line,
                                     const ProgramOptions& options = {});

}  // namespace ncrewrite::testing
