#pragma once

// Test support: runs a built program as a child process and collects what
// it did, for end-to-end tests.
//
// Each platform implements this header in run_program_<platform>.cpp. An
// implementation must guarantee: the program gets exactly the given
// arguments (no shell, no quoting that changes them) and no standard input;
// it inherits this process's environment without DISPLAY and
// WAYLAND_DISPLAY, plus ProgramOptions::environment, whose entries take the
// place of inherited ones of the same name; standard output and
// standard error are collected completely, however much the program writes,
// without it ever blocking on them; exit_status is the status the program
// ended with by itself, and -1 when it was stopped (Stop, the timeout,
// destruction) or ended by a crash; Stop ends the program at once, giving it
// no chance to clean up, as a power cut or a killed task would; Wait returns
// only once the program has ended.

#include <memory>
#include <string>
#include <vector>

namespace ncrewrite::testing {

struct ProgramRun {
  int exit_status = -1;  // -1 when the program did not end by itself
  std::string out;       // standard output
  std::string err;       // standard error
};

struct ProgramOptions {
  std::string directory;                 // working directory; empty: the current one
  std::vector<std::string> environment;  // extra NAME=VALUE entries
  double timeout_seconds = 60;           // the program is stopped after this long
};

/// A program started by StartProgram. Stopped and waited for on destruction
/// when Wait was not called.
class RunningProgram {
 public:
  /// What the platform keeps of a running program.
  struct Child;

  explicit RunningProgram(std::unique_ptr<Child> child);
  ~RunningProgram();
  RunningProgram(RunningProgram&& other) noexcept;
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  /// Ends the program at once if it still runs.
  void Stop();
  /// Waits for the program to end (stopping it after the timeout) and gives
  /// what it did. Call once.
  ProgramRun Wait();

  /// What the platform keeps of the program, for its own test helpers.
  Child& child() { return *child_; }

 private:
  std::unique_ptr<Child> child_;
};

/// Starts `program` like RunProgram and returns at once.
RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options = {});

/// Runs `program` with `arguments` (argument 0 is `program` itself), as
/// described at the top, and waits for it. Without DISPLAY and
/// WAYLAND_DISPLAY a failure report never waits for someone to press OK; a
/// test that wants a display passes one in `options.environment`.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options = {});

}  // namespace ncrewrite::testing
