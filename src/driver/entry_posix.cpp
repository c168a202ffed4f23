#include <signal.h>

#include "driver/entry.h"
#include "driver/process.h"
#include "failure/lifecycle.h"

namespace {

int argument_count = 0;
char** arguments = nullptr;

// POSIX hands the arguments over already split; they are kept at start-up,
// before the program's own set-up asks for them, and given back at shutdown
// after the program's own tear-down, so that the leak report sees none of
// them.
void SetUp() {
  ncrewrite::SetCommandLine(argument_count, arguments);
  ncrewrite::ProgramSetUp();
}

void TearDown() {
  // Given back even when the program's tear-down raises.
  struct ReleaseCommandLine {
    ~ReleaseCommandLine() { ncrewrite::SetCommandLine(0, nullptr); }
  } release_last;
  ncrewrite::ProgramTearDown();
}

}  // namespace

int main(int argc, char** argv) {
  // A write past the file-size limit (ulimit -f) must fail like one to a
  // full disk, with a report and the temp file removed, instead of ending
  // the process where it stands.
  ::signal(SIGXFSZ, SIG_IGN);
  argument_count = argc;
  arguments = argv;
  ncrewrite::RunProcess({.set_up = SetUp,
                         .tear_down = TearDown,
                         .run = ncrewrite::ProgramRunPhase});
}
