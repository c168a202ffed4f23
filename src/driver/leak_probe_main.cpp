// The program as it ships, except that its run leaves memory blocks behind
// on purpose: a test program for the leak report.

#include <cstdint>

#include "driver/entry.h"
#include "driver/run_rewrite.h"

namespace {

// Kept reachable, so that neither the compiler nor a leak checker of the
// sanitizers takes them away.
void* volatile left_behind[4];

struct Pair {
  std::uint64_t first;
  std::uint64_t second;
};

}  // namespace

void ncrewrite::ProgramSetUp() {}
void ncrewrite::ProgramTearDown() {}

void ncrewrite::ProgramRunPhase() {
  RunRewrite();
  left_behind[0] = new char[24];
  left_behind[1] = new char[20];
  left_behind[2] = new Pair{1, 2};
  left_behind[3] = new char[5000];
}
