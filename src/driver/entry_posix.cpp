#include "driver/entry.h"
#include "driver/process.h"
#include "failure/lifecycle.h"

namespace {

int argument_count = 0;
char** arguments = nullptr;

// POSIX hands the arguments over already split; they are kept at start-up
// and given back at shutdown, so that the leak report sees none of them.
void KeepCommandLine() { ncrewrite::SetCommandLine(argument_count, arguments); }
void ReleaseCommandLine() { ncrewrite::SetCommandLine(0, nullptr); }

}  // namespace

int main(int argc, char** argv) {
  argument_count = argc;
  arguments = argv;
  ncrewrite::RunProcess({.set_up = KeepCommandLine,
                         .tear_down = ReleaseCommandLine,
                         .run = ncrewrite::ProgramRunPhase});
}
