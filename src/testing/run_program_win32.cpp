// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include <stdexcept>

#include "testing/run_program.h"

namespace ncrewrite::testing {

struct RunningProgram::Child {};

RunningProgram::RunningProgram(std::unique_ptr<Child> child) : child_(std::move(child)) {}
RunningProgram::~RunningProgram() = default;
RunningProgram::RunningProgram(RunningProgram&& other) noexcept = default;
void RunningProgram::Stop() {}
ProgramRun RunningProgram::Wait() { return {}; }

RunningProgram StartProgram(const std::string& program, const std::vector<std::string>&,
                            const ProgramOptions&) {
  throw std::runtime_error("cannot start " + program + " yet");
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  return StartProgram(program, arguments, options).Wait();
}

}  // namespace ncrewrite::testing
