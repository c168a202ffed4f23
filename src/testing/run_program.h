#pragma once

// Test support: runs a built program as a child process and collects what
// it did, for end-to-end tests.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace ncrewrite::testing {

struct ProgramRun {
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended it, if any
  std::string out;       // standard output
  std::string err;       // standard error
};

/// A limit of setrlimit, such as RLIMIT_FSIZE or RLIMIT_AS.
struct ResourceLimit {
  int resource;
  std::uint64_t value;
};

struct ProgramOptions {
  std::string directory;                 // working directory; empty: the current one
  std::vector<std::string> environment;  // extra NAME=VALUE entries
  double timeout_seconds = 60;           // the child is killed after this long
  std::vector<ResourceLimit> limits;     // set in the child before it starts the program
  std::vector<int> ignored_signals;      // ignored by the program (SIGXFSZ, say)
};

/// A program started by StartProgram. Killed and waited for on destruction
/// when Wait was not called.
class RunningProgram {
 public:
  RunningProgram(pid_t pid, std::unique_ptr<TempDir> capture, double timeout_seconds);
  ~RunningProgram();
  RunningProgram(RunningProgram&& other) noexcept;
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  /// Sends `signal` to the program if it still runs.
  void Kill(int signal);
  /// Waits for the program to end (killing it after the timeout) and gives
  /// what it did. Call once.
  ProgramRun Wait();

 private:
  pid_t pid_;
  std::unique_ptr<TempDir> capture_;  // holds "out" and "err"
  double timeout_seconds_;
};

/// Starts `program` like RunProgram and returns at once.
RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options = {});

/// Runs `program` with `arguments` (argument 0 is `program` itself), no
/// standard input, and waits for it. The child inherits the environment
/// without DISPLAY and WAYLAND_DISPLAY, so that a failure report never waits
/// for someone to press OK; a test that wants a display passes one in
/// `options.environment`.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options = {});

}  // namespace ncrewrite::testing
