// ncrewrite itself: the shared entry point around the rewrite.

#include "driver/entry.h"
#include "driver/run_rewrite.h"

void ncrewrite::ProgramSetUp() {}
void ncrewrite::ProgramTearDown() {}
void ncrewrite::ProgramRunPhase() { RunRewrite(); }
