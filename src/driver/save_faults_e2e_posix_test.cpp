// End to end under faults that only POSIX systems can bring about: a full
// disk (a file-size limit, a small file system), memory or descriptors
// running out, permissions that bind the user, signals that end the run, and
// another program or user putting a file or a link at the name. Whatever
// happens, the user's file holds the old or the new content, and no file but
// the output is written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/e2e_posix_test.h"
#include "driver/e2e_test.h"
#include "testing/run_program.h"
#include "testing/run_program_posix.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::PosixOptions;
using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

/// Runs `executable` on `input` as an ordinary user, for whom permissions
/// count; as root, that is the user nobody, who then owns `jobs` and what is
/// in it.
ProgramRun RunAsUser(const std::string& executable, const fs::path& jobs,
                     const std::string& input) {
  if (::geteuid() != 0) return RunProgram(executable, {input});
  for (const auto& entry : fs::recursive_directory_iterator(jobs)) {
    EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
  }
  EXPECT_EQ(::chown(jobs.c_str(), kNobody, kNobody), 0);
  return RunProgram("/usr/bin/setpriv", AsNobody({executable, input}));
}

/// Whether a file holds `expected`, for contents too large for EXPECT_EQ:
/// the diff it shows of two texts takes memory quadratic in their lines.
::testing::AssertionResult Holds(const std::string& path, const std::string& expected) {
  const std::string actual = ReadFile(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure()
         << path << " holds " << actual.size() << " bytes where " << expected.size()
         << " were expected; they differ first at byte " << (differ.first - actual.begin());
}

/// Runs `command` (a shell tool) as the user nobody.
void AsOtherUser(const std::vector<std::string>& command) {
  const ProgramRun run = testing::RunProgram("/usr/bin/setpriv", AsNobody(command));
  EXPECT_EQ(run.exit_status, 0) << command.front() << ": " << run.err;
}

/// A file system of its own on a fresh directory, to run out of room in,
/// mounted for the lifetime of the object. Needs root.
class SmallDisk {
 public:
  SmallDisk(const fs::path& at, const char* type, const char* options) : at_(at) {
    fs::create_directory(at_);
    if (::mount(type, at_.c_str(), type, 0, options) != 0) error_ = errno;
  }
  ~SmallDisk() {
    if (error_ == 0) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  /// The error of the mount, 0 when mounted.
  int error() const { return error_; }

 private:
  fs::path at_;
  int error_ = 0;
};

/// Fills the disk that `path` is on with a file of zeros as large as it gets.
void FillDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
  static const char kZeros[4096] = {};
  while (::write(fd, kZeros, sizeof kZeros) > 0) {
  }
  ::close(fd);
}

/// Sets fs.protected_symlinks, the kernel's rule against following a link
/// that another user put in a shared directory, for the lifetime of the
/// object, and puts the old value back.
class ProtectedSymlinks {
 public:
  explicit ProtectedSymlinks(char value) : saved_(Read()) {
    set_ = !saved_.empty() && Write(value) && Read() == std::string(1, value);
  }
  ~ProtectedSymlinks() {
    if (!saved_.empty()) Write(saved_.front());
  }
  ProtectedSymlinks(const ProtectedSymlinks&) = delete;
  ProtectedSymlinks& operator=(const ProtectedSymlinks&) = delete;

  bool set() const { return set_; }

 private:
  static constexpr const char* kSetting = "/proc/sys/fs/protected_symlinks";
  static std::string Read() {
    std::ifstream in(kSetting);
    std::string value;
    in >> value;
    return value;
  }
  static bool Write(char value) {
    const int fd = ::open(kSetting, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, &value, 1) == 1;
    return ::close(fd) == 0 && written;
  }

  std::string saved_;
  bool set_ = false;
};

/// One event that a DirectoryWatch saw: what happened (IN_OPEN, IN_CREATE,
/// ...) to which name.
struct WatchEvent {
  std::uint32_t mask;
  std::string name;
};

/// What to look for among the events of a DirectoryWatch.
struct Moment {
  std::uint32_t mask;
  std::string_view prefix;  // of the name
  std::uint64_t size = 0;   // the file has at least this size then (0: any)
  bool Matches(const WatchEvent& event) const {
    return (event.mask & mask) != 0 && event.name.starts_with(prefix);
  }
};

// The events that every DirectoryWatch sees.
constexpr std::uint32_t kWatchedEvents = IN_OPEN | IN_CREATE | IN_MOVE;

/// The events in one directory, in the order they happened (inotify): lets
/// a test act at the moment the program opens, makes or writes a file there.
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const fs::path& directory, std::uint32_t events = kWatchedEvents)
      : directory_(directory), fd_(::inotify_init1(IN_CLOEXEC)) {
    EXPECT_GE(::inotify_add_watch(fd_, directory.c_str(), events), 0);
  }
  ~DirectoryWatch() { ::close(fd_); }
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  /// Waits up to `seconds` for the next event at `moment`, and gives its
  /// number in events().
  std::optional<std::size_t> WaitFor(const Moment& moment, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      for (; looked_at_ < events_.size(); ++looked_at_) {
        if (moment.Matches(events_[looked_at_]) && HasSize(events_[looked_at_].name, moment.size)) {
          return looked_at_++;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadEvents(static_cast<int>(left.count()))) return std::nullopt;
    }
  }

  /// Every event so far.
  const std::vector<WatchEvent>& events() {
    while (ReadEvents(0)) {
    }
    return events_;
  }

 private:
  /// Reads the events that arrive within `timeout_ms`; false when none did.
  bool ReadEvents(int timeout_ms) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, timeout_ms) <= 0) return false;
    alignas(inotify_event) char buffer[64 * 1024];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      events_.push_back({event->mask, event->len > 0 ? std::string(event->name) : ""});
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return got > 0;
  }

  /// Whether the file `name` has at least `size` bytes now, or is gone
  /// already: the moment has passed then, which the caller must tell.
  bool HasSize(const std::string& name, std::uint64_t size) const {
    std::error_code error;
    const std::uintmax_t now = fs::file_size(directory_ / name, error);
    return error || now >= size;
  }

  fs::path directory_;
  int fd_;
  std::vector<WatchEvent> events_;
  std::size_t looked_at_ = 0;
};

/// When a test stops the program to act in the jobs directory.
struct Interruption {
  Moment stop_at;   // the program is stopped as this happens ...
  Moment too_late;  // ... but was stopped too late when this came before the stop took effect,
  std::string_view written_too_late = {};  // ... or when it held this file open for writing then
  long in_call = -1;  // after stop_at, stopped only once it waits in this system call
};

/// Waits up to `seconds` until `program` waits in the system call `call`.
void WaitForSystemCall(testing::RunningProgram& program, long call, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (testing::CurrentSystemCall(program) != call &&
         std::chrono::steady_clock::now() < deadline) {
  }
}

/// Whether `program`, stopped after the event number `stopped`, is still
/// before `when.too_late` and `when.written_too_late`. The program makes no
/// event while it is stopped, so every event of its own is in `watch` by
/// then. Inotify folds an event into the one before it while both are
/// unread and alike: a stop at the program's first open of a file may come
/// after its second, which is why opening for writing is told by the
/// descriptors the program holds.
bool StoppedInTime(testing::RunningProgram& program, DirectoryWatch& watch, std::size_t stopped,
                   const Interruption& when, const fs::path& jobs) {
  const std::vector<WatchEvent>& events = watch.events();
  for (std::size_t k = stopped + 1; k < events.size(); ++k) {
    if (when.too_late.Matches(events[k])) return false;
  }
  return when.written_too_late.empty() ||
         !testing::HoldsOpenForWriting(program, (jobs / when.written_too_late).string());
}

/// Runs `executable` on `input` in `jobs`, stops it at `when.stop_at`, calls
/// `act` while it is stopped and lets it go on. A stop takes effect a little
/// later than it is sent, so a round in which the program got too far
/// before it stopped is tried again, without the act; `prepare` sets the
/// scene before each round.
ProgramRun RunStoppedFor(const std::string& executable, const fs::path& jobs,
                         const std::string& input, const Interruption& when,
                         const std::function<void()>& prepare,
                         const std::function<void()>& act) {
  for (int round = 0; round < 20; ++round) {
    prepare();
    DirectoryWatch watch(jobs, kWatchedEvents | when.stop_at.mask | when.too_late.mask);
    testing::RunningProgram running = testing::StartProgram(executable, {input});
    const std::optional<std::size_t> stopped = watch.WaitFor(when.stop_at, 30);
    bool in_time = false;
    if (stopped) {
      if (when.in_call >= 0) WaitForSystemCall(running, when.in_call, 5);
      testing::SendSignal(running, SIGSTOP);
      in_time = testing::WaitUntilStopped(running) &&
                StoppedInTime(running, watch, *stopped, when, jobs);
      if (in_time) act();
      testing::SendSignal(running, SIGCONT);
    }
    ProgramRun run = running.Wait();
    if (!stopped) {
      ADD_FAILURE() << "the program did not get to the moment to stop it: " << run.err;
      return run;
    }
    if (in_time) return run;
  }
  ADD_FAILURE() << "the program was never stopped in time";
  return {};
}

/// The longest of three successful runs on `program` at `part`, so that
/// a busy machine still lets random moments fall into the save; `part`
/// holds the result then.
double LongestRun(const std::string& executable, const std::string& part,
                  const std::string& program) {
  double seconds = 0;
  for (int run = 0; run < 3; ++run) {
    WriteFile(part, program);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunProgram(executable, {part}).exit_status, 0);
    seconds = std::max(seconds, std::chrono::duration<double>(
                                    std::chrono::steady_clock::now() - started).count());
  }
  return seconds;
}

// A file-size limit (ulimit -f) stops the writing as a full disk would. The
// program starts with SIGXFSZ at its default action, as a shell starts it:
// the program itself must turn the signal into a write that fails.
TEST_F(SaveFaults, FullDiskFailsWithWriteErrorAndLeavesEverythingAsItWas) {
  const std::string program = LargeProgram(300'000);
  PosixOptions disk_full;
  disk_full.limits = {{RLIMIT_FSIZE, 100'000}};
  for (const bool tap : {false, true}) {
    if (tap) UseTapOutput();
    WriteFile(part_, program);
    ExpectFailure(RunProgram(executable_, {part_}, {}, disk_full), "EWriteError",
                  "Stream-Schreibfehler");
    EXPECT_TRUE(Holds(part_, program));
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

struct PermissionCase {
  const char* name;
  bool tap;
  fs::perms input;      // permissions of part.nc
  fs::perms directory;  // permissions of the jobs directory
  const char* kind;     // nullptr: the run succeeds
  bool message_names_tap;
  const char* message;
};

// Read-only files and directories, and an unreadable input, for a user
// whom the permissions bind.
TEST_F(SaveFaults, PermissionsAreHonoured) {
  using enum fs::perms;
  const fs::perms rw = owner_read | owner_write;
  const fs::perms ro = owner_read;
  const fs::perms dir_rwx = owner_all;
  const fs::perms dir_rx = owner_read | owner_exec;
  const PermissionCase cases[] = {
      {"read-only input overwritten", false, ro, dir_rwx, "EFCreateError", false,
       "kann nicht erstellt werden. Permission denied"},
      {"read-only directory: written in place", false, rw, dir_rx, nullptr, false, ""},
      {"read-only directory: no .tap can be made", true, rw, dir_rx, "EFCreateError", true,
       "kann nicht erstellt werden. Permission denied"},
      {"unreadable input", false, owner_write, dir_rwx, "EFOpenError", false,
       "kann nicht geöffnet werden. Permission denied"},
  };
  const std::string program = "A\nM104\nM80\nM81\nB\n";
  const std::string rewritten = "A\r\nM104 M180\r\nB\r\n";
  for (const PermissionCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::permissions(jobs_, dir_rwx);
    fs::remove_all(jobs_);
    fs::create_directory(jobs_);
    fs::remove(dir_.File("ncrewrite.ini"));
    if (c.tap) UseTapOutput();
    WriteFile(part_, program);
    fs::permissions(part_, c.input);
    fs::permissions(jobs_, c.directory);

    const ProgramRun run = RunAsUser(executable_, jobs_, part_);

    fs::permissions(jobs_, dir_rwx);
    fs::permissions(part_, rw);
    if (c.kind == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(ReadFile(part_), rewritten);
    } else {
      const std::string& named = c.message_names_tap ? tap_ : part_;
      const std::string quote = std::string_view(c.kind) == "EFCreateError" ? "\"" : "";
      ExpectFailure(run, c.kind, "Datei " + quote + named + quote + " " + c.message);
      EXPECT_EQ(ReadFile(part_), program);
    }
    EXPECT_EQ(fs::status(part_).permissions(), rw);  // as reset above: nothing else
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

// Memory runs out at different steps of the run (start-up, loading,
// rewriting, and with the temp file made, saving): each run either succeeds,
// or fails with EOutOfMemory (or, with too little memory to start, does not
// start at all), and the input holds the new or the old content.
TEST_F(SaveFaults, OutOfMemoryLeavesTheInputUnchanged) {
  // AddressSanitizer reserves terabytes of shadow memory at start, which no
  // address-space limit lets through.
  if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
  const std::string program = LargeProgram(4'000'000);
  const std::string rewritten = Rewritten(program);
  int out_of_memory = 0;
  const auto succeeds_with_limit = [&](std::uint64_t limit) {
    WriteFile(part_, program);
    PosixOptions options;
    options.limits = {{RLIMIT_AS, limit}};
    const ProgramRun run = RunProgram(executable_, {part_}, {}, options);
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{}) << limit;
    if (run.exit_status == 0) {
      EXPECT_TRUE(Holds(part_, rewritten)) << limit;
      return true;
    }
    if (run.err.find("error while loading shared libraries") == std::string::npos) {
      ExpectFailure(run, "EOutOfMemory", "");
      ++out_of_memory;
    }
    EXPECT_TRUE(Holds(part_, program)) << limit;
    return false;
  };

  // Find the least limit (to 32 KiB) that suffices, then fail just below it
  // in small steps, where the last allocations of the run are refused.
  constexpr std::uint64_t kStep = 32 * 1024;
  std::uint64_t too_small = 1024 * 1024;
  std::uint64_t enough = 512 * 1024 * 1024;
  ASSERT_FALSE(succeeds_with_limit(too_small));
  ASSERT_TRUE(succeeds_with_limit(enough));
  while (enough - too_small > kStep) {
    const std::uint64_t middle = (too_small + enough) / 2;
    (succeeds_with_limit(middle) ? enough : too_small) = middle;
  }
  for (std::uint64_t below = kStep; below <= 32 * kStep; below += kStep) {
    succeeds_with_limit(enough - below);
  }
  EXPECT_GT(out_of_memory, 0);
}

// A disk with no inode or no block left for the temp file: the run fails,
// and the file is as it was, not emptied and written in place until the disk
// is full. A file written in place (it has a second name) is written only
// once the room for all of its new content is reserved; on ramfs, which
// cannot reserve and tells no free room, it is written all the same.
TEST_F(SaveFaults, DiskWithoutRoomLeavesTheFileAsItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  struct Case {
    const char* name;
    const char* type;
    const char* options;  // tmpfs counts the root directory and every name as an inode
    bool second_name;
    const char* kind;  // nullptr: the run succeeds
    const char* message;
  };
  const Case cases[] = {
      {"no inode for the temp file", "tmpfs", "size=1m,nr_inodes=3", false, "EFCreateError",
       "kann nicht erstellt werden. No space left on device"},
      {"no block for the temp file", "tmpfs", "size=1m,nr_inodes=4", false, "EWriteError",
       "Stream-Schreibfehler"},
      {"in place, no room for the longer content", "tmpfs", "size=1m,nr_inodes=4", true,
       "EFCreateError", "kann nicht erstellt werden. No space left on device"},
      {"in place where room cannot be reserved", "ramfs", "", true, nullptr, ""},
  };
  // 600 KB that grow by a tenth with CR LF line breaks.
  std::string program;
  std::string rewritten;
  for (int line = 0; line < 60'000; ++line) {
    program += "G1 X10 Y5\n";
    rewritten += "G1 X10 Y5\r\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path disk_path = dir_.path() / "disk";
    const SmallDisk disk(disk_path, c.type, c.options);
    if (disk.error() != 0) GTEST_SKIP() << "cannot mount " << c.type << ": " << std::strerror(disk.error());
    const std::string file = (disk_path / "p.nc").string();
    const std::string second = (disk_path / "second.nc").string();
    WriteFile(file, program);
    if (c.second_name) {
      ASSERT_EQ(::link(file.c_str(), second.c_str()), 0);
    }
    if (c.kind != nullptr) FillDisk((disk_path / "fill").string());

    const ProgramRun run = RunProgram(executable_, {file});

    if (c.kind == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_TRUE(Holds(file, rewritten));
    } else {
      ExpectFailure(run, c.kind, c.message);
      EXPECT_TRUE(Holds(file, program));
    }
    if (c.second_name) {
      EXPECT_TRUE(Holds(second, ReadFile(file)));
    }
    EXPECT_EQ(Leftovers(disk_path, {"fill", "p.nc", "second.nc"}), std::vector<std::string>{});
  }
}

// With few descriptors left, the temp file (or the output) cannot be opened:
// the run fails and the file is as it was, not written in place until a
// file-size limit stops it half-way.
TEST_F(SaveFaults, TooFewDescriptorsLeaveTheFileAsItWas) {
  const std::string program = LargeProgram(300'000);
  // With three descriptors the program cannot start. The sanitizers' runtime
  // needs two of its own (a pipe) to check the type of the failure raised.
  constexpr std::uint64_t kFewest = kAddressSanitizer ? 5 : 4;
  int refused = 0;
  for (std::uint64_t descriptors = kFewest; descriptors <= 8; ++descriptors) {
    SCOPED_TRACE("descriptors: " + std::to_string(descriptors));
    WriteFile(part_, program);
    PosixOptions options;
    options.limits = {{RLIMIT_NOFILE, descriptors}, {RLIMIT_FSIZE, 100'000}};
    const ProgramRun run = RunProgram(executable_, {part_}, {}, options);
    if (run.err.find("Too many open files") != std::string::npos) {
      ExpectFailure(run, "EFCreateError", "kann nicht erstellt werden. Too many open files");
      ++refused;
    } else {
      ExpectFailure(run, "EWriteError", "Stream-Schreibfehler");
    }
    EXPECT_TRUE(Holds(part_, program));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
  EXPECT_GT(refused, 0);
}

// An interrupt (Ctrl+C), a request to terminate or a hang-up ends the run at
// any moment as it would end any program, but not before the temp file is
// removed: the file holds the old or the new content, and nothing is left.
// Half of the signals come while the temp file is being written.
TEST_F(SaveFaults, EndedBySignalsLeavesOldOrNewContentAndNoTempFile) {
  const std::string program = LargeProgram(kLargeSize);
  const double seconds = LongestRun(executable_, part_, program);
  const std::string rewritten = ReadFile(part_);
  ASSERT_NE(rewritten, program);

  std::mt19937 random(20261210);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  int ended_while_saving = 0;
  for (int round = 0; round < 60; ++round) {
    const int signal = signals[round % 3];
    const bool while_saving = round % 2 == 1;
    WriteFile(part_, program);
    DirectoryWatch watch(jobs_);
    testing::RunningProgram running = testing::StartProgram(executable_, {part_});
    const bool saving =
        while_saving && watch.WaitFor({IN_CREATE, ".ncrewrite-"}, 10 * seconds).has_value();
    const double delay =
        std::uniform_real_distribution<double>(0, while_saving ? seconds / 2 : 1.5 * seconds)(random);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    testing::SendSignal(running, signal);
    const ProgramRun run = running.Wait();
    const int ended_by = testing::EndingSignal(running);

    const std::string now = ReadFile(part_);
    SCOPED_TRACE("round " + std::to_string(round) + ", signal " + strsignal(signal) + " after " +
                 std::to_string(delay) + " s");
    ASSERT_TRUE(now == program || now == rewritten) << now.size() << " bytes";
    EXPECT_TRUE(run.exit_status == 0 || ended_by == signal) << run.exit_status << run.err;
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
    if (saving && ended_by == signal && now == program) ++ended_while_saving;
  }
  EXPECT_GT(ended_while_saving, 0);
}

// Another program (an editor saving a new version, say) puts a file at the
// name while the run loads or saves: that file stays, and the run fails
// instead of writing over it what it made from the old one.
TEST_F(SaveFaults, FilePutAtTheNameDuringTheRunIsNotOverwritten) {
  const Interruption loading{{IN_OPEN, "part.nc"}, {IN_CREATE, ".ncrewrite-"}, "part.nc"};
  const Interruption saving{{IN_CREATE, ".ncrewrite-"}, {IN_MOVED_FROM, ".ncrewrite-"}};
  struct Case {
    const char* name;
    bool tap;
    bool tap_existed;
    Interruption when;
    const char* kind;
    const char* message;
  };
  const Case cases[] = {
      {"input renamed over while it loads", false, false, loading, "EReadError",
       "Stream-Lesefehler"},
      {"input renamed over while it is saved", false, false, saving, "EReadError",
       "Stream-Lesefehler"},
      {".tap made while it is saved", true, false, saving, "EFCreateError",
       "kann nicht erstellt werden. File exists"},
      {".tap renamed over while it is saved", true, true, saving, "EFCreateError",
       "kann nicht erstellt werden. File exists"},
  };
  const std::string program = LargeProgram(kLargeSize);
  const std::string other = "OTHER\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& name = c.tap ? tap_ : part_;
    const auto prepare = [&] { StartOver(program, c.tap, c.tap_existed); };
    const ProgramRun run = RunStoppedFor(executable_, jobs_, part_, c.when, prepare, [&] {
      const std::string scratch = (jobs_ / ".other").string();
      WriteFile(scratch, other);
      fs::rename(scratch, name);
    });
    ExpectFailure(run, c.kind, c.message);
    EXPECT_TRUE(Holds(name, other));
    if (c.tap) {
      EXPECT_TRUE(Holds(part_, program));
    }
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

// Another program appends a line to the program while the result is being
// flushed to the disk, which takes long for a large file. The check that
// the program did not change comes after the flush, as the last step
// before the result takes its place: the run fails and the line stays.
TEST_F(SaveFaults, ProgramChangedWhileTheResultIsFlushedFailsTheRun) {
  if (!std::ifstream("/proc/self/syscall")) {
    GTEST_SKIP() << "/proc does not tell the system call a process waits in";
  }
  const std::string program = LargeProgram(4 * kLargeSize);
  const std::uint64_t result_size = Rewritten(program).size();
  const std::string appended = "APPENDED BY ANOTHER PROGRAM\n";
  // Once the temp file holds the whole result, stopped while it waits for
  // the flush (the stop takes effect as the flush returns), so the line is
  // appended after anything that comes before the flush; too late once the
  // temp file got its mode, which comes right after the flush.
  const Interruption flushing{
      {IN_MODIFY, ".ncrewrite-", result_size}, {IN_ATTRIB, ".ncrewrite-"}, {}, SYS_fsync};
  for (const bool tap : {false, true}) {
    SCOPED_TRACE(tap ? "result to the .tap" : "result over the program");
    const auto prepare = [&] { StartOver(program, tap); };
    const ProgramRun run = RunStoppedFor(executable_, jobs_, part_, flushing, prepare, [&] {
      std::ofstream(part_, std::ios::binary | std::ios::app) << appended;
    });
    ExpectFailure(run, "EReadError", "Stream-Lesefehler");
    EXPECT_TRUE(Holds(part_, program + appended));
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

// While one instance saves, a second one on the same file is refused: the
// program that the first saves over cannot be loaded (EFOpenError, as any
// program that cannot be opened), and a .tap that the first saves over
// cannot be written (EFCreateError); the first ends as if alone. A .tap
// that neither found is made by both, and the second to put it in place
// finds the other's there (EFCreateError, "File exists").
TEST_F(SaveFaults, FileThatAnotherInstanceSavesIsRefused) {
  struct Outcome {
    const char* kind;  // nullptr: the run succeeds
    std::string message;
  };
  struct Case {
    const char* name;
    bool tap;
    bool tap_existed;
    Outcome first;  // the instance stopped while it saves
    Outcome second;
  };
  const std::string busy = "Resource temporarily unavailable";
  const Case cases[] = {
      {"the program", false, false, {nullptr, ""},
       {"EFOpenError", "Datei " + part_ + " kann nicht geöffnet werden. " + busy}},
      {"a .tap that exists", true, true, {nullptr, ""},
       {"EFCreateError", "Datei \"" + tap_ + "\" kann nicht erstellt werden. " + busy}},
      {"a new .tap", true, false,
       {"EFCreateError", "Datei \"" + tap_ + "\" kann nicht erstellt werden. File exists"},
       {nullptr, ""}},
  };
  const auto expect = [](const ProgramRun& run, const Outcome& outcome) {
    if (outcome.kind == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << run.err;
    } else {
      ExpectFailure(run, outcome.kind, outcome.message);
    }
  };
  const Interruption saving{{IN_CREATE, ".ncrewrite-"}, {IN_MOVED_FROM, ".ncrewrite-"}};
  const std::string program = LargeProgram(kLargeSize);
  const std::string rewritten = Rewritten(program);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto prepare = [&] { StartOver(program, c.tap, c.tap_existed); };
    ProgramRun second;
    const ProgramRun first =
        RunStoppedFor(executable_, jobs_, part_, saving, prepare, [&] { second = Run(part_); });
    expect(first, c.first);
    expect(second, c.second);
    EXPECT_TRUE(Holds(c.tap ? tap_ : part_, rewritten));
    if (c.tap) {
      EXPECT_TRUE(Holds(part_, program));
    }
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

// Root runs the program in a shared directory (sticky and writable by all,
// like /tmp), where the other user nobody plants the .tap as a link to a file
// of root's, or swaps the program for such a link while it loads. The run
// follows a link only as the kernel lets it (fs.protected_symlinks), and
// never writes over another file than the one it loaded.
TEST_F(SaveFaults, LinksPlantedByAnotherUserAreNotWrittenThrough) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: the runner is root, the other user is nobody, and "
                    "fs.protected_symlinks is set for the test";
  }
  struct Case {
    const char* name;
    char protected_symlinks;
    bool planted_tap;  // else the input swapped while it loads
    const char* kind;
    const char* message;
  };
  const Case cases[] = {
      {"planted .tap, links protected", '1', true, "EFCreateError",
       "kann nicht erstellt werden. Permission denied"},
      {"input swapped while it loads, links protected", '1', false, "EFCreateError",
       "kann nicht erstellt werden. Permission denied"},
      {"input swapped while it loads, links not protected", '0', false, "EReadError",
       "Stream-Lesefehler"},
  };
  const std::string victim = dir_.File("authorized_keys");
  const std::string secret = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIB runner@host\n";
  const std::string job = (jobs_ / "job.nc").string();
  const std::string program = LargeProgram(kLargeSize);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProtectedSymlinks protection(c.protected_symlinks);
    if (!protection.set()) GTEST_SKIP() << "cannot set fs.protected_symlinks (read-only /proc/sys?)";
    const auto prepare = [&] {
      fs::remove_all(jobs_);
      fs::create_directory(jobs_);
      fs::permissions(jobs_, fs::perms::all | fs::perms::sticky_bit);
      fs::remove(dir_.File("ncrewrite.ini"));
      WriteFile(victim, secret);
      fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
      WriteFile(job, program);
      EXPECT_EQ(::chown(job.c_str(), kNobody, kNobody), 0);
    };
    const std::string swapped = c.planted_tap ? (jobs_ / "job.tap").string() : job;
    ProgramRun run;
    if (c.planted_tap) {
      prepare();
      UseTapOutput();
      AsOtherUser({"/bin/ln", "-s", victim, swapped});
      run = RunProgram(executable_, {job});
    } else {
      const std::string staged = (jobs_ / ".swap").string();
      const Interruption loading{{IN_OPEN, "job.nc"}, {IN_CREATE, ".ncrewrite-"}, "job.nc"};
      run = RunStoppedFor(executable_, jobs_, job, loading, prepare, [&] {
        AsOtherUser({"/bin/ln", "-s", victim, staged});
        AsOtherUser({"/bin/mv", "-T", staged, job});
      });
    }
    ExpectFailure(run, c.kind, c.message);
    EXPECT_TRUE(Holds(victim, secret));
    EXPECT_TRUE(fs::is_symlink(swapped));
    EXPECT_EQ(Leftovers(jobs_, {"job.nc", "job.tap"}), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(dir_.path(), {"authorized_keys", "jobs", "ncrewrite", "ncrewrite.ini"}),
              std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace ncrewrite::e2e
