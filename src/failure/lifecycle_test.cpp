#include "failure/lifecycle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>

#include "testing/environment.h"

namespace ncrewrite {
namespace {

// Each case runs the process's life in a child process (a death test) and
// checks its exit status and what it wrote to standard error: the boxes,
// and the marks that the parts below leave there.

// Flushed at once: the Windows C runtime buffers standard error when it
// goes to a file, and the boxes are written past it.
void Mark(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void SetUpQuietly() { Mark("set up\n"); }
void TearDownQuietly() { Mark("released\n"); }
void RunQuietly() { Mark("run\n"); }

void SetUpAndFail() {
  Mark("set up\n");
  throw Failure("EFOpenError", "kaputt", 0x1234);
}
void SetUpWithoutMemory() {
  Mark("set up\n");
  OnMemoryExhausted(0xABC);
}
void RunAndFail() { throw Failure("EFCreateError", "Datei \"<a&b>\" kann nicht erstellt werden", 0); }
void RunWithoutMemory() { OnMemoryExhausted(0); }
void RunIntoBadAlloc() { throw std::bad_alloc(); }
void RunIntoOtherException() { throw std::runtime_error("unerwartet"); }
void RunIntoAnything() { throw 42; }
void TearDownAndFail() {
  Mark("released\n");
  throw Failure("EWriteError", "", 0x5678);
}
void TearDownWithoutMemory() {
  Mark("released\n");
  OnMemoryExhausted(0xDEF);
}

struct LifeCase {
  const char* name;
  ProcessParts parts;
  int status;
  // A regular expression for all of it, in the subset that GoogleTest's
  // own engine on Windows shares with POSIX extended expressions.
  const char* standard_error;
};

[[noreturn]] void Live(const ProcessParts& parts) {
  // No dialog: the boxes go to standard error only.
  testing::ChangeEnvironment("DISPLAY", std::nullopt);
  testing::ChangeEnvironment("WAYLAND_DISPLAY", std::nullopt);
  RunProcess(parts);
}

// The module is the test program itself.
#define FAILURE_REPORT(kind, line2)                                                    \
  "Anwendungsfehler\nException " kind " in Modul " NCREWRITE_TESTS_FILE_NAME          \
  " bei 0000000000000000\\.\n" line2 "\n"

TEST(RunProcessDeathTest, EndsEveryWayAsThePhaseDemands) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const LifeCase cases[] = {
      {"normal end", {SetUpQuietly, TearDownQuietly, RunQuietly}, 0,
       "^set up\nrun\nreleased\n$"},
      {"failure in the run", {SetUpQuietly, TearDownQuietly, RunAndFail}, 1,
       "^set up\n" FAILURE_REPORT("EFCreateError",
                                  "Datei \"<a&b>\" kann nicht erstellt werden\\.") "released\n$"},
      {"memory runs out in the run", {SetUpQuietly, TearDownQuietly, RunWithoutMemory}, 1,
       "^set up\n" FAILURE_REPORT("EOutOfMemory", "Zu wenig Arbeitsspeicher\\.") "released\n$"},
      {"std::bad_alloc in the run", {nullptr, nullptr, RunIntoBadAlloc}, 1,
       "^" FAILURE_REPORT("EOutOfMemory", "Zu wenig Arbeitsspeicher\\.") "$"},
      {"other exception in the run", {nullptr, nullptr, RunIntoOtherException}, 1,
       "^" FAILURE_REPORT("Exception", "unerwartet\\.") "$"},
      {"anything thrown in the run", {nullptr, nullptr, RunIntoAnything}, 1,
       "^" FAILURE_REPORT("Exception", "") "$"},
      // Start-up releases what it set up before the fallback report.
      {"failure in start-up", {SetUpAndFail, TearDownQuietly, RunQuietly}, 217,
       "^set up\nreleased\nError\nRuntime error 217 at 0000000000001234\n$"},
      // Nothing is raised then: the report comes first, shutdown after it.
      {"memory runs out before the out-of-memory failure exists",
       {SetUpWithoutMemory, TearDownQuietly, RunQuietly}, 203,
       "^set up\nError\nRuntime error 203 at 0000000000000ABC\nreleased\n$"},
      {"failure in shutdown", {SetUpQuietly, TearDownAndFail, RunQuietly}, 217,
       "^set up\nrun\nreleased\nError\nRuntime error 217 at 0000000000005678\n$"},
      // After the failure report, the fallback report's number is the status.
      {"failure in the run, then in shutdown", {SetUpQuietly, TearDownAndFail, RunAndFail}, 217,
       "^set up\n" FAILURE_REPORT("EFCreateError", "Datei .* werden\\.") "released\nError\n"
       "Runtime error 217 at 0000000000005678\n$"},
      {"memory runs out after the out-of-memory failure is released",
       {SetUpQuietly, TearDownWithoutMemory, RunQuietly}, 203,
       "^set up\nrun\nreleased\nError\nRuntime error 203 at 0000000000000DEF\n$"},
  };
  for (const LifeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(Live(c.parts), ::testing::ExitedWithCode(c.status), c.standard_error);
  }
}

void RunWithLeakSwitchOn() { SetLeakReportSwitch(true); }

TEST(RunProcessDeathTest, NoLeakReportWhenNoBlockIsLeft) {
  // These tests keep the standard allocation functions, so no block is ever
  // in the ledger: the switch alone shows nothing.
  EXPECT_EXIT(Live({nullptr, nullptr, RunWithLeakSwitchOn}), ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace ncrewrite
