#pragma once

// The process's life around the run: start-up, the one top-level handler,
// the reports that end a failed run, shutdown and the exit status.
//
// How a run ends:
//   the run completes                                   nothing shown, status 0
//   a failure escapes the run                           failure report, status 1
//   a failure reaches the top during start-up/shutdown  fallback report 217, status 217
//   memory runs out while the out-of-memory failure
//   does not exist (early start-up, late shutdown)      fallback report 203, status 203
// After status 0 or 1 the leak report may follow; it leaves the status alone.

#include <cstdint>
#include <string_view>

#include "failure/failure.h"

namespace ncrewrite {

/// The parts of the process's life that the program fills in.
struct ProcessParts {
  /// Start-up work that comes before the out-of-memory failure is made, such
  /// as keeping the command line. May raise; may be null.
  void (*set_up)() = nullptr;
  /// Releases what set_up made, also after set_up failed half-way. Runs at
  /// shutdown or when start-up fails. May be null.
  void (*tear_down)() = nullptr;
  /// The run phase.
  void (*run)() = nullptr;
};

/// What the entry point does: start-up, `parts.run`, EndProcess, all under
/// the one top-level handler, which catches everything raised and reports it
/// as the phase demands. Never returns.
[[noreturn]] void RunProcess(const ProcessParts& parts);

/// Shows the failure report for `failure` under the caption
/// "Anwendungsfehler", sets the exit status to 1 and ends the process.
[[noreturn]] void ReportFailure(Failure failure);

/// Sets the exit status to `number`, shows the fallback report under the
/// caption "Error" and ends the process. Needs no memory.
[[noreturn]] void ReportRuntimeError(int number, std::uint64_t address);

/// Shuts down and ends the process with the current exit status: releases
/// what start-up set up, in reverse order, then shows the leak report when
/// the leak report switch is on and blocks are still in use. Never returns.
[[noreturn]] void EndProcess();

/// Shows `text` under `caption` with the error icon and one OK button, and
/// returns when the user has dismissed it.
void ShowErrorBox(std::string_view caption, std::string_view text) noexcept;

/// What the program's allocation functions do when memory has run out for
/// the code at `address`: raise the out-of-memory failure while it exists;
/// otherwise end the process with the fallback report 203.
[[noreturn]] void OnMemoryExhausted(std::uint64_t address);

/// Turns the leak report at the end of shutdown on or off. Off at start;
/// the last step of start-up turns it on exactly when a debugger is
/// attached at that moment.
void SetLeakReportSwitch(bool on) noexcept;

}  // namespace ncrewrite
