#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>
#include <utility>

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

/// Gives the child every signal at its default action and none blocked, as
/// a shell starts a program, whatever the test process inherited: a signal
/// ignored for the program would hide what users meet. Async-signal-safe.
void ResetSignals() {
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

/// Starts the program with fork and exec, for what posix_spawn cannot set
/// up in the child: resource limits and ignored signals. The child calls
/// only async-signal-safe functions.
pid_t ForkWithLimits(const std::string& program, char* const* argv, char* const* envp,
                     const std::string& out_path, const std::string& err_path,
                     const ProgramOptions& options) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
      ::dup2(err, 2) < 0) {
    ::_exit(127);
  }
  // Only the standard descriptors, as a shell starts a program: a limit on
  // descriptors must leave the program as many as it leaves users.
  ::close_range(3, ~0U, 0);
  if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(127);
  for (const ResourceLimit& limit : options.limits) {
    rlimit value{};
    ::getrlimit(limit.resource, &value);
    value.rlim_cur = static_cast<rlim_t>(limit.value);
    if (::setrlimit(limit.resource, &value) != 0) ::_exit(127);
  }
  ResetSignals();
  for (const int signal : options.ignored_signals) ::signal(signal, SIG_IGN);
  ::execve(program.c_str(), argv, envp);
  ::_exit(127);
}

}  // namespace

RunningProgram::RunningProgram(pid_t pid, std::unique_ptr<TempDir> capture,
                               double timeout_seconds)
    : pid_(pid), capture_(std::move(capture)), timeout_seconds_(timeout_seconds) {}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      capture_(std::move(other.capture_)),
      timeout_seconds_(other.timeout_seconds_) {}

RunningProgram::~RunningProgram() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

void RunningProgram::Kill(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

ProgramRun RunningProgram::Wait() {
  const int status = WaitWithTimeout(std::exchange(pid_, 0), timeout_seconds_);
  ProgramRun run;
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = ReadFile(capture_->File("out"));
  run.err = ReadFile(capture_->File("err"));
  return run;
}

RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options) {
  auto capture = std::make_unique<TempDir>();
  const std::string out_path = capture->File("out");
  const std::string err_path = capture->File("err");

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

  if (!options.limits.empty() || !options.ignored_signals.empty()) {
    const pid_t pid =
        ForkWithLimits(program, argv.data(), envp.data(), out_path, err_path, options);
    if (pid < 0) throw std::runtime_error("cannot start " + program);
    return RunningProgram(pid, std::move(capture), options.timeout_seconds);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  }
  // As ResetSignals does for a forked child.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  return RunningProgram(pid, std::move(capture), options.timeout_seconds);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  return StartProgram(program, arguments, options).Wait();
}

}  // namespace ncrewrite::testing
