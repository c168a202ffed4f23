// Test support: the child program of the tests of run_program.h. It reads
// its arguments with the program's own GetCommandArgument, as ncrewrite
// does, so that it sees them as ncrewrite would.
//   test_child echo ARG...    writes the arguments, each followed by '|'
//   test_child exit N         ends with status N
//   test_child env NAME       writes the value of NAME, or "(none)"
//   test_child flood N        writes N bytes to standard output and error
//   test_child sleep          waits two minutes

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/process.h"

namespace {

void Write(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using ncrewrite::GetCommandArgument;
  ncrewrite::SetCommandLine(argc, argv);
  const std::string command = GetCommandArgument(1);
  if (command == "echo") {
    for (std::int32_t index = 2; !GetCommandArgument(index).empty(); ++index) {
      Write(stdout, GetCommandArgument(index) + "|");
    }
  } else if (command == "exit") {
    return std::stoi(GetCommandArgument(2));
  } else if (command == "env") {
    const char* const value = std::getenv(GetCommandArgument(2).c_str());
    Write(stdout, value != nullptr ? value : "(none)");
  } else if (command == "flood") {
    const std::string bytes(std::stoul(GetCommandArgument(2)), 'o');
    Write(stdout, bytes);
    Write(stderr, bytes);
  } else if (command == "sleep") {
    std::this_thread::sleep_for(std::chrono::minutes(2));
  } else {
    return 99;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
