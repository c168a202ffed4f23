#include <windows.h>

#include "driver/entry.h"
#include "failure/lifecycle.h"

// A program of the graphical subsystem: no console opens. The command line
// is asked of the system whenever an argument is wanted, so there is
// nothing of the entry point's own to keep at start-up.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ncrewrite::RunProcess({.set_up = ncrewrite::ProgramSetUp,
                         .tear_down = ncrewrite::ProgramTearDown,
                         .run = ncrewrite::ProgramRunPhase});
}
