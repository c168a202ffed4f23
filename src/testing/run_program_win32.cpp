// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include <stdexcept>

#include "testing/run_program.h"

namespace ncrewrite::testing {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>&,
                      const ProgramOptions&) {
  throw std::runtime_error("cannot start " + program + " yet");
}

}  // namespace ncrewrite::testing
