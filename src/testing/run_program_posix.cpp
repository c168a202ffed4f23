#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "testing/run_program.h"
#include "testing/run_program_posix.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace ncrewrite::testing {

struct RunningProgram::Child {
  pid_t pid;
  std::unique_ptr<TempDir> capture;  // holds "out" and "err"
  double timeout_seconds;
  int ending_signal = 0;  // once waited for
};

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
                     const ProgramOptions& options, const PosixOptions& posix) {
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
  for (const ResourceLimit& limit : posix.limits) {
    rlimit value{};
    ::getrlimit(limit.resource, &value);
    value.rlim_cur = static_cast<rlim_t>(limit.value);
    if (::setrlimit(limit.resource, &value) != 0) ::_exit(127);
  }
  ResetSignals();
  for (const int signal : posix.ignored_signals) ::signal(signal, SIG_IGN);
  ::execve(program.c_str(), argv, envp);
  ::_exit(127);
}

}  // namespace

RunningProgram::RunningProgram(std::unique_ptr<Child> child) : child_(std::move(child)) {}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept = default;

RunningProgram::~RunningProgram() {
  if (!child_ || child_->pid <= 0) return;
  ::kill(child_->pid, SIGKILL);
  int status = 0;
  while (::waitpid(child_->pid, &status, 0) < 0 && errno == EINTR) {
  }
}

void RunningProgram::Stop() {
  if (child_ && child_->pid > 0) ::kill(child_->pid, SIGKILL);
}

ProgramRun RunningProgram::Wait() {
  const int status = WaitWithTimeout(std::exchange(child_->pid, 0), child_->timeout_seconds);
  ProgramRun run;
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) child_->ending_signal = WTERMSIG(status);
  run.out = ReadFile(child_->capture->File("out"));
  run.err = ReadFile(child_->capture->File("err"));
  return run;
}

void SendSignal(RunningProgram& program, int signal) {
  if (program.child().pid > 0) ::kill(program.child().pid, signal);
}

int EndingSignal(RunningProgram& program) { return program.child().ending_signal; }

long CurrentSystemCall(RunningProgram& program) {
  if (program.child().pid <= 0) return -1;
  // "74 0x6 ..." while it waits in system call 74, "running" while it runs.
  std::ifstream in("/proc/" + std::to_string(program.child().pid) + "/syscall");
  long call = -1;
  return in >> call ? call : -1;
}

bool WaitUntilStopped(RunningProgram& program) {
  const pid_t pid = program.child().pid;
  if (pid <= 0) return false;
  // WNOWAIT: an end stays for Wait to collect.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) return false;
  }
  return info.si_code == CLD_STOPPED;
}

bool HoldsOpenForWriting(RunningProgram& program, const std::string& path) {
  struct stat file;
  if (program.child().pid <= 0 || ::stat(path.c_str(), &file) != 0) return false;
  const std::string process = "/proc/" + std::to_string(program.child().pid);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(process + "/fd", error)) {
    struct stat opened;  // of the file that the descriptor leads to
    if (::stat(entry.path().c_str(), &opened) != 0 || opened.st_dev != file.st_dev ||
        opened.st_ino != file.st_ino) {
      continue;
    }
    // "flags:\t0100001": the open flags in octal.
    std::ifstream info(process + "/fdinfo/" + entry.path().filename().string());
    for (std::string line; std::getline(info, line);) {
      if (line.starts_with("flags:") &&
          (std::stoul(line.substr(6), nullptr, 8) & O_ACCMODE) != O_RDONLY) {
        return true;
      }
    }
  }
  return false;
}

RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options, const PosixOptions& posix) {
  auto capture = std::make_unique<TempDir>();
  const std::string out_path = capture->File("out");
  const std::string err_path = capture->File("err");

  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  // The extra entries take the place of inherited ones of the same name.
  const auto replaced = [&](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    if (name == "DISPLAY=" || name == "WAYLAND_DISPLAY=") return true;
    for (const std::string& extra : options.environment) {
      if (std::string_view(extra).starts_with(name)) return true;
    }
    return false;
  };
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!replaced(*e)) env_strings.emplace_back(*e);
  }
  env_strings.insert(env_strings.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> argv = PointerArray(argv_strings);
  std::vector<char*> envp = PointerArray(env_strings);
  const auto started = [&](pid_t pid) {
    return RunningProgram(std::make_unique<RunningProgram::Child>(
        RunningProgram::Child{pid, std::move(capture), options.timeout_seconds}));
  };

  if (!posix.limits.empty() || !posix.ignored_signals.empty()) {
    const pid_t pid =
        ForkWithLimits(program, argv.data(), envp.data(), out_path, err_path, options, posix);
    if (pid < 0) throw std::runtime_error("cannot start " + program);
    return started(pid);
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
  return started(pid);
}

RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options) {
  return StartProgram(program, arguments, options, PosixOptions{});
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options, const PosixOptions& posix) {
  return StartProgram(program, arguments, options, posix).Wait();
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  return StartProgram(program, arguments, options).Wait();
}

}  // namespace ncrewrite::testing
