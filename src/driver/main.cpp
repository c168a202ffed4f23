#include "driver/process.h"
#include "driver/run_rewrite.h"
#include "failure/lifecycle.h"

namespace {

int argument_count = 0;
char** arguments = nullptr;

void KeepCommandLine() { ncrewrite::SetCommandLine(argument_count, arguments); }
void ReleaseCommandLine() { ncrewrite::SetCommandLine(0, nullptr); }

}  // namespace

int main(int argc, char** argv) {
  argument_count = argc;
  arguments = argv;
  ncrewrite::RunProcess({.set_up = KeepCommandLine,
                         .tear_down = ReleaseCommandLine,
                         .run = ncrewrite::RunRewrite});
}
