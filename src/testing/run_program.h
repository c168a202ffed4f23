#pragma once

// Test support: runs a built program as a child process and collects what
// it did, for end-to-end tests.

#include <string>
#include <vector>

namespace ncrewrite::testing {

struct ProgramRun {
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended it, if any
  std::string out;       // standard output
  std::string err;       // standard error
};

struct ProgramOptions {
  std::string directory;                 // working directory; empty: the current one
  std::vector<std::string> environment;  // extra NAME=VALUE entries
  double timeout_seconds = 60;           // the child is killed after this long
};

/// Runs `program` with `arguments` (argument 0 is `program` itself), no
/// standard input, and waits for it. The child inherits the environment
/// without DISPLAY and WAYLAND_DISPLAY, so that a failure report never waits
/// for someone to press OK; a test that wants a display passes one in
/// `options.environment`.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options = {});

}  // namespace ncrewrite::testing
