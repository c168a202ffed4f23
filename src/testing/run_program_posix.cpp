#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

#include "testing/run_program.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace ncrewrite::testing {
namespace {

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int WaitWithTimeout(pid_t pid, double timeout_seconds) {
  const timespec pause{0, 2'000'000};
  for (double waited = 0;; waited += 0.002) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (waited > timeout_seconds) ::kill(pid, SIGKILL);
    ::nanosleep(&pause, nullptr);
  }
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  TempDir capture;
  const std::string out_path = capture.File("out");
  const std::string err_path = capture.File("err");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  }

  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=")) continue;
    env_strings.emplace_back(entry);
  }
  env_strings.insert(env_strings.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> argv = PointerArray(argv_strings);
  std::vector<char*> envp = PointerArray(env_strings);

  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);

  const int status = WaitWithTimeout(pid, options.timeout_seconds);
  ProgramRun run;
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace ncrewrite::testing
