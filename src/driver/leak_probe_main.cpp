// The program as it ships, except that its run leaves memory blocks behind
// on purpose: a test program for the leak report.

#include <cstdint>

#include "driver/process.h"
#include "driver/run_rewrite.h"
#include "failure/lifecycle.h"

namespace {

int argument_count = 0;
char** arguments = nullptr;

// Kept reachable, so that neither the compiler nor a leak checker of the
// sanitizers takes them away.
void* volatile left_behind[4];

struct Pair {
  std::uint64_t first;
  std::uint64_t second;
};

void KeepCommandLine() { ncrewrite::SetCommandLine(argument_count, arguments); }
void ReleaseCommandLine() { ncrewrite::SetCommandLine(0, nullptr); }

void RunRewriteAndLeak() {
  ncrewrite::RunRewrite();
  left_behind[0] = new char[24];
  left_behind[1] = new char[20];
  left_behind[2] = new Pair{1, 2};
  left_behind[3] = new char[5000];
}

}  // namespace

int main(int argc, char** argv) {
  argument_count = argc;
  arguments = argv;
  ncrewrite::RunProcess({.set_up = KeepCommandLine,
                         .tear_down = ReleaseCommandLine,
                         .run = RunRewriteAndLeak});
}
