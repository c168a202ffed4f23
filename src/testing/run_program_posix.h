#pragma once

// Test support for the tests that only POSIX systems run (*_posix_test.cpp):
// what only they can set up for a program started as in run_program.h.

#include <cstdint>
#include <string>
#include <vector>

#include "testing/run_program.h"

namespace ncrewrite::testing {

/// A limit of setrlimit, such as RLIMIT_FSIZE or RLIMIT_AS.
struct ResourceLimit {
  int resource;
  std::uint64_t value;
};

struct PosixOptions {
  std::vector<ResourceLimit> limits;  // set in the child before it starts the program
  std::vector<int> ignored_signals;   // ignored by the program (SIGXFSZ, say)
};

/// Sends `signal` to `program` if it still runs.
void SendSignal(RunningProgram& program, int signal);

/// The signal that ended `program`, once Wait has returned; 0 when it ended
/// by itself.
int EndingSignal(RunningProgram& program);

/// The number (SYS_fsync, ...) of the system call that `program` waits in
/// at this moment, as /proc tells it; -1 when it waits in none, runs, or
/// has ended.
long CurrentSystemCall(RunningProgram& program);

/// Waits until `program` has stopped (a SIGSTOP takes effect a little after
/// it is sent) or ended. Gives whether it is stopped now; it stays so until
/// it gets SIGCONT, and Wait still gives how it ended.
bool WaitUntilStopped(RunningProgram& program);

/// Whether `program` holds the file that `path` leads to open for writing.
bool HoldsOpenForWriting(RunningProgram& program, const std::string& path);

/// StartProgram and RunProgram with what `posix` sets up in the child.
RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options, const PosixOptions& posix);
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options, const PosixOptions& posix);

}  // namespace ncrewrite::testing
