#include <cstdio>
#include <new>

#include "driver/process.h"
#include "driver/run_rewrite.h"
#include "failure/failure.h"

int main(int argc, char** argv) {
  ncrewrite::SetCommandLine(argc, argv);
  try {
    ncrewrite::RunRewrite();
  } catch (const ncrewrite::Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", failure.kind().c_str(), failure.message().c_str());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "EOutOfMemory: Zu wenig Arbeitsspeicher\n");
    return 1;
  }
  return 0;
}
