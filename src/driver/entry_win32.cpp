#include <windows.h>

#include "driver/entry.h"
#include "failure/lifecycle.h"

// A program of the graphical subsystem: no console opens. The command line
// is asked of the system whenever an argument is wanted, so there is
// nothing to keep at start-up.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ncrewrite::RunProcess({.run = ncrewrite::ProgramRunPhase});
}
