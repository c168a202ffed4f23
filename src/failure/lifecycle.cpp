#include "failure/lifecycle.h"

#include <array>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "failure/debugger.h"
#include "failure/failure_report.h"
#include "failure/memory_ledger.h"
#include "failure/message_box.h"
#include "failure/process_exit.h"
#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

constexpr int kStartUpOrShutdownError = 217;
constexpr int kOutOfMemoryError = 203;
constexpr int kFailureStatus = 1;

enum class Phase { kStartUp, kRun, kShutdown };

struct ProcessState {
  ProcessParts parts;
  Phase phase = Phase::kStartUp;
  int exit_status = 0;
  bool set_up_begun = false;
  bool leak_report_switch = false;
  // Made at start-up, so that raising it later needs no memory.
  std::optional<Failure> out_of_memory;
};

constinit ProcessState state;

/// Releases what start-up has set up, in reverse order. Each part is
/// forgotten before it is released, so a release that raises is not tried
/// again when shutdown resumes after the fallback report.
void ReleaseStartUp() {
  state.out_of_memory.reset();
  if (std::exchange(state.set_up_begun, false) && state.parts.tear_down != nullptr) {
    state.parts.tear_down();
  }
}

void StartUp() {
  try {
    state.set_up_begun = true;
    if (state.parts.set_up != nullptr) state.parts.set_up();
    state.out_of_memory.emplace(failure_kind::kOutOfMemory,
                                std::string(StoredText(stored_text::kOutOfMemoryMessage)), 0);
  } catch (...) {
    ReleaseStartUp();
    throw;
  }
  // The failure report is in place from here on.
  state.phase = Phase::kRun;
  // Read as the run begins: a debugger attached now is one that is meant to
  // see what the run leaves behind.
  state.leak_report_switch = IsDebuggerAttached();
}

void StartRunAndEnd() {
  StartUp();
  state.parts.run();
  EndProcess();
}

/// Takes whatever escaped as a failure. Empty when memory ran out (a plain
/// std::bad_alloc) while the out-of-memory failure does not exist.
std::optional<Failure> EscapedFailure() {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    if (state.out_of_memory) return state.out_of_memory->RaisedAt(0);
    return std::nullopt;
  } catch (const std::exception& other) {
    return Failure("Exception", other.what(), 0);
  } catch (...) {
    return Failure("Exception", "", 0);
  }
}

/// The one top-level handler: runs `body`; whatever escapes it is reported
/// as the phase demands, and the process ends.
void UnderTopLevelHandler(void (*body)()) {
  std::optional<Failure> escaped;
  bool memory_exhausted = false;
  try {
    body();
    return;
  } catch (...) {
    escaped = EscapedFailure();
    memory_exhausted = !escaped;
  }
  // Reported only now that the raised object is gone, so that the leak
  // report at the end sees no block of it.
  if (memory_exhausted) ReportRuntimeError(kOutOfMemoryError, 0);
  if (state.phase == Phase::kRun) ReportFailure(std::move(*escaped));
  const std::uint64_t address = escaped->address();
  escaped.reset();
  ReportRuntimeError(kStartUpOrShutdownError, address);
}

/// The last step of shutdown, when nothing but leaks can hold memory.
void CloseMemoryBookkeeping() noexcept {
  const MemoryLedger& ledger = GlobalMemoryLedger();
  if (!state.leak_report_switch || ledger.blocks_in_use() == 0) return;
  static std::array<char, 8192> text;
  PresentBox("Unexpected Memory Leak", ledger.FormatLeakReport(text), BoxIcon::kError,
             BoxText::kAscii);
}

}  // namespace

void RunProcess(const ProcessParts& parts) {
  state.parts = parts;
  UnderTopLevelHandler(StartRunAndEnd);
  // StartRunAndEnd ends the process itself; this is not reached.
  std::abort();
}

void ReportFailure(Failure failure) {
  {
    const std::string text = FormatFailureReport(failure);
    ShowErrorBox(StoredText(stored_text::kFailureReportCaption), text);
  }
  // The texts of the failure go before the leak report looks.
  { const Failure released = std::move(failure); }
  state.exit_status = kFailureStatus;
  EndProcess();
}

void ReportRuntimeError(int number, std::uint64_t address) {
  state.exit_status = number;
  const RuntimeErrorText text = FormatRuntimeErrorReport(number, address);
  PresentBox("Error", text.view(), BoxIcon::kNone, BoxText::kAscii);
  EndProcess();
}

void EndProcess() {
  // The failure report is withdrawn: what fails from here on gets the
  // fallback report.
  state.phase = Phase::kShutdown;
  UnderTopLevelHandler(ReleaseStartUp);
  CloseMemoryBookkeeping();
  ExitWithStatus(state.exit_status);
}

void ShowErrorBox(std::string_view caption, std::string_view text) noexcept {
  PresentBox(caption, text, BoxIcon::kError, BoxText::kUnicode);
}

void OnMemoryExhausted(std::uint64_t address) {
  if (state.out_of_memory) throw state.out_of_memory->RaisedAt(address);
  ReportRuntimeError(kOutOfMemoryError, address);
}

void SetLeakReportSwitch(bool on) noexcept { state.leak_report_switch = on; }

}  // namespace ncrewrite
