// The program as it ships, except that its start-up or its shutdown fails
// on purpose, as argument 2 asks: a test program for the fallback report,
// which the program itself never gets to show.
//
//   start-up         a failure is raised in start-up                 217
//   start-up-memory  memory runs out in start-up, before the
//                    out-of-memory failure is made                   203
//   shutdown         a failure is raised in shutdown, after the run  217
//   shutdown-memory  memory runs out in shutdown, after the
//                    out-of-memory failure is gone                   203
//
// With any other argument 2 nothing fails.

#include <cstddef>
#include <limits>
#include <string>

#include "driver/entry.h"
#include "driver/process.h"
#include "driver/run_rewrite.h"
#include "failure/failure.h"

namespace {

enum class FailAt { kNothing, kStartUp, kStartUpMemory, kShutdown, kShutdownMemory };

FailAt fail_at = FailAt::kNothing;

FailAt FailAtFor(const std::string& phase) {
  if (phase == "start-up") return FailAt::kStartUp;
  if (phase == "start-up-memory") return FailAt::kStartUpMemory;
  if (phase == "shutdown") return FailAt::kShutdown;
  if (phase == "shutdown-memory") return FailAt::kShutdownMemory;
  return FailAt::kNothing;
}

// More than any system gives, read at run time so that the compiler cannot
// tell: the program's operator new finds no memory for it.
volatile std::size_t too_much = std::numeric_limits<std::size_t>::max() / 2;
char* volatile never_given;

void AskForTooMuchMemory() { never_given = new char[too_much]; }

}  // namespace

void ncrewrite::ProgramSetUp() {
  fail_at = FailAtFor(GetCommandArgument(2));
  if (fail_at == FailAt::kStartUp) RaiseFailure(failure_kind::kFOpenError, "Start schlägt fehl");
  if (fail_at == FailAt::kStartUpMemory) AskForTooMuchMemory();
}

void ncrewrite::ProgramTearDown() {
  if (fail_at == FailAt::kShutdown) RaiseFailure(failure_kind::kWriteError, "Ende schlägt fehl");
  if (fail_at == FailAt::kShutdownMemory) AskForTooMuchMemory();
}

void ncrewrite::ProgramRunPhase() { RunRewrite(); }
