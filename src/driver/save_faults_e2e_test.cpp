// End to end under real faults: the built executable, copied into a fresh
// directory, saving while the disk is full, memory or descriptors run out,
// permissions forbid it, it is killed or asked to end, another instance works
// on the same file, or another program or user puts a file or a link at its
// name. Whatever happens, the user's file holds the old or the new content,
// and no file but the output is written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

namespace fs = std::filesystem;
using testing::ProgramOptions;
using testing::ProgramRun;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The user the unprivileged cases run as when the tests run as root.
constexpr uid_t kNobody = 65534;

// Under AddressSanitizer the program runs several times slower, so the
// large files shrink; and an address-space limit cannot be combined with it,
// since it reserves terabytes of shadow memory at start.
#if defined(NCREWRITE_SANITIZED)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Size of the programs that are killed or raced: large enough that a save
// takes a while.
constexpr std::size_t kLargeSize = kAddressSanitizer ? 300'000 : 2'000'000;

/// A program of about `size` bytes with something to rewrite every few
/// lines, so that old and new content differ all through the file.
std::string LargeProgram(std::size_t size) {
  static constexpr std::string_view kPattern =
      "G1 X10.000 Y20.000 Z-1.500 F1200\r\nM104\r\nG0 X0 Y0\r\nM80\r\nM81\r\nT1 M6\r\n";
  std::string program;
  program.reserve(size + kPattern.size());
  while (program.size() < size) program.append(kPattern);
  return program;
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

/// The temp files that a save left in `directory`.
std::vector<std::string> Leftovers(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".ncrewrite-")) names.push_back(name);
  }
  return names;
}

void Sleep(double seconds) {
  const double whole = std::floor(seconds);
  const timespec pause{static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
  ::nanosleep(&pause, nullptr);
}

/// The arguments of setpriv that run `command` as the user nobody: the user
/// whom permissions bind, or the other user of a shared directory.
std::vector<std::string> AsNobody(const std::vector<std::string>& command) {
  std::vector<std::string> arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return arguments;
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
  bool Matches(const WatchEvent& event) const {
    return (event.mask & mask) != 0 && event.name.starts_with(prefix);
  }
};

/// The events in one directory, in the order they happened (inotify): lets
/// a test act at the moment the program opens or makes a file there.
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const fs::path& directory) : fd_(::inotify_init1(IN_CLOEXEC)) {
    EXPECT_GE(::inotify_add_watch(fd_, directory.c_str(), IN_OPEN | IN_CREATE | IN_MOVE), 0);
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
        if (moment.Matches(events_[looked_at_])) return looked_at_++;
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

  int fd_;
  std::vector<WatchEvent> events_;
  std::size_t looked_at_ = 0;
};

/// When a test stops the program to act in the jobs directory.
struct Interruption {
  Moment stop_at;         // the program is stopped as this happens ...
  Moment too_late;        // ... but was stopped too late when this came before the act
  std::string_view ours;  // the beginning of every name that the act uses
};

/// Whether the act (its first event on a name of `when.ours`) came before
/// the program got to `when.too_late`, after it was stopped at event number
/// `stopped`.
bool ActedInTime(const std::vector<WatchEvent>& events, std::size_t stopped,
                 const Interruption& when) {
  for (std::size_t k = stopped + 1; k < events.size(); ++k) {
    if (events[k].name.starts_with(when.ours)) return true;
    if (when.too_late.Matches(events[k])) return false;
  }
  return false;
}

class SaveFaults : public ::testing::Test {
 protected:
  SaveFaults() {
    fs::copy_file(NCREWRITE_EXECUTABLE, executable_);
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::create_directory(jobs_);
  }

  void UseTapOutput() { WriteFile(dir_.File("ncrewrite.ini"), "[common]\ntest=1\n"); }

  ProgramRun Run(const std::string& input, ProgramOptions options = {}) {
    return testing::RunProgram(executable_, {input}, options);
  }

  /// Runs as an ordinary user, for whom permissions count; as root, that is
  /// the user nobody, who then owns the jobs directory and what is in it.
  ProgramRun RunAsUser(const std::string& input) {
    if (::geteuid() != 0) return Run(input);
    for (const auto& entry : fs::recursive_directory_iterator(jobs_)) {
      EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
    }
    EXPECT_EQ(::chown(jobs_.c_str(), kNobody, kNobody), 0);
    return testing::RunProgram("/usr/bin/setpriv", AsNobody({executable_, input}));
  }

  /// Runs the program on `input`, stops it at `when.stop_at`, calls `act`
  /// and lets it go on. A stop takes effect a little later than it is sent,
  /// so a round in which the program got to `when.too_late` before the act
  /// is tried again; `prepare` sets the scene before each round.
  ProgramRun RunStoppedFor(const std::string& input, const Interruption& when,
                           const std::function<void()>& prepare,
                           const std::function<void()>& act) {
    for (int round = 0; round < 5; ++round) {
      prepare();
      DirectoryWatch watch(jobs_);
      testing::RunningProgram running = testing::StartProgram(executable_, {input});
      const std::optional<std::size_t> stopped = watch.WaitFor(when.stop_at, 30);
      if (stopped) {
        running.Kill(SIGSTOP);
        act();
        running.Kill(SIGCONT);
      }
      ProgramRun run = running.Wait();
      if (!stopped) {
        ADD_FAILURE() << "the program did not get to the moment to stop it: " << run.err;
        return run;
      }
      if (ActedInTime(watch.events(), *stopped, when)) return run;
    }
    ADD_FAILURE() << "the program was never stopped in time";
    return {};
  }

  /// The longest of three successful runs on `program` at part.nc, so that
  /// a busy machine still lets random moments fall into the save; part.nc
  /// holds the result then.
  double LongestRun(const std::string& program) {
    double seconds = 0;
    for (int run = 0; run < 3; ++run) {
      WriteFile(part_, program);
      const auto started = std::chrono::steady_clock::now();
      EXPECT_EQ(Run(part_).exit_status, 0);
      seconds = std::max(seconds, std::chrono::duration<double>(
                                      std::chrono::steady_clock::now() - started).count());
    }
    return seconds;
  }

  /// What a successful run makes of `content`.
  std::string Rewritten(const std::string& content) {
    const std::string scratch = dir_.File("scratch.nc");
    WriteFile(scratch, content);
    const ProgramRun run = Run(scratch);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return ReadFile(scratch);
  }

  TempDir dir_;
  const std::string executable_ = dir_.File("ncrewrite");
  const fs::path jobs_ = dir_.path() / "jobs";
  const std::string part_ = (jobs_ / "part.nc").string();
  const std::string tap_ = (jobs_ / "part.tap").string();
};

void ExpectFailure(const ProgramRun& run, std::string_view kind, std::string_view message) {
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find(kind), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

// A file-size limit (ulimit -f) stops the writing as a full disk would. The
// program starts with SIGXFSZ at its default action, as a shell starts it:
// the program itself must turn the signal into a write that fails.
TEST_F(SaveFaults, FullDiskFailsWithWriteErrorAndLeavesEverythingAsItWas) {
  const std::string program = LargeProgram(300'000);
  ProgramOptions disk_full;
  disk_full.limits = {{RLIMIT_FSIZE, 100'000}};
  for (const bool tap : {false, true}) {
    if (tap) UseTapOutput();
    WriteFile(part_, program);
    ExpectFailure(Run(part_, disk_full), "EWriteError", "Stream-Schreibfehler");
    EXPECT_TRUE(Holds(part_, program));
    EXPECT_FALSE(fs::exists(tap_));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
}

TEST_F(SaveFaults, OutputThatIsADirectoryFailsWithCreateError) {
  UseTapOutput();
  WriteFile(part_, "M104\nM80\n");
  fs::create_directory(tap_);
  ExpectFailure(Run(part_), "EFCreateError",
                "Datei \"" + tap_ + "\" kann nicht erstellt werden. Is a directory");
  EXPECT_TRUE(fs::is_empty(tap_));
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

    const ProgramRun run = RunAsUser(part_);

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
  if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
  const std::string program = LargeProgram(4'000'000);
  const std::string rewritten = Rewritten(program);
  int out_of_memory = 0;
  const auto succeeds_with_limit = [&](std::uint64_t limit) {
    WriteFile(part_, program);
    ProgramOptions options;
    options.limits = {{RLIMIT_AS, limit}};
    const ProgramRun run = Run(part_, options);
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

// A kill can come at any moment: before, during or after the temp file is
// written, or between the rename and the exit. The file is always whole.
TEST_F(SaveFaults, KilledAtRandomMomentsLeavesOldOrNewContent) {
  const std::string program = LargeProgram(kLargeSize);
  const double seconds = LongestRun(program);
  const std::string rewritten = ReadFile(part_);
  ASSERT_NE(rewritten, program);

  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> moment(0, seconds * 1.5);
  int old_seen = 0;
  int new_seen = 0;
  for (int round = 0; round < 110; ++round) {
    WriteFile(part_, program);
    testing::RunningProgram running = testing::StartProgram(executable_, {part_});
    const double delay = moment(random);
    Sleep(delay);
    running.Kill(SIGKILL);
    running.Wait();

    const std::string now = ReadFile(part_);
    ASSERT_TRUE(now == program || now == rewritten)
        << "round " << round << ", killed after " << delay << " s: " << now.size() << " bytes";
    (now == program ? old_seen : new_seen) += 1;
    // A killed process cannot clean up. What it leaves is a temp file that
    // nobody else can read, or, killed just before the rename, the whole new
    // content with the output's permissions.
    for (const std::string& name : Leftovers(jobs_)) {
      const fs::path leftover = jobs_ / name;
      if (fs::status(leftover).permissions() != (fs::perms::owner_read | fs::perms::owner_write)) {
        EXPECT_TRUE(Holds(leftover.string(), rewritten)) << "round " << round;
      }
      fs::remove(leftover);
    }
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

// Two instances on one file: each loads, rewrites and saves; one may be
// refused by the other's lock, or find the other's result in place of the
// file it loaded. The file ends as one whole result: the program rewritten
// once, or twice when the second loaded the first's result.
TEST_F(SaveFaults, TwoInstancesAtOnceLeaveOneValidResult) {
  const std::string program = LargeProgram(kLargeSize) + "M104\r\nM104\r\nM80\r\nM81\r\nM80\r\n";
  const std::string once = Rewritten(program);
  const std::string twice = Rewritten(once);
  ASSERT_NE(once, twice);
  for (int round = 0; round < 10; ++round) {
    WriteFile(part_, program);
    testing::RunningProgram first = testing::StartProgram(executable_, {part_});
    testing::RunningProgram second = testing::StartProgram(executable_, {part_});
    const ProgramRun runs[] = {first.Wait(), second.Wait()};
    int succeeded = 0;
    for (const ProgramRun& run : runs) {
      if (run.exit_status == 0) {
        ++succeeded;
      } else {
        EXPECT_EQ(run.exit_status, 1);
        // Refused by the other's lock, while loading or while saving; or the
        // other's result took the name after this one had loaded the file.
        const bool locked_out = (run.err.find("EFCreateError") != std::string::npos ||
                                 run.err.find("EFOpenError") != std::string::npos) &&
                                run.err.find("Resource temporarily unavailable") != std::string::npos;
        const bool replaced = run.err.find("EReadError") != std::string::npos &&
                              run.err.find("Stream-Lesefehler") != std::string::npos;
        EXPECT_TRUE(locked_out || replaced) << run.err;
      }
    }
    EXPECT_GE(succeeded, 1);
    const std::string now = ReadFile(part_);
    EXPECT_TRUE(now == once || now == twice) << "round " << round;
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
  }
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

    const ProgramRun run = Run(file);

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
    EXPECT_EQ(Leftovers(disk_path), std::vector<std::string>{});
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
    ProgramOptions options;
    options.limits = {{RLIMIT_NOFILE, descriptors}, {RLIMIT_FSIZE, 100'000}};
    const ProgramRun run = Run(part_, options);
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
  const double seconds = LongestRun(program);
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
    Sleep(delay);
    running.Kill(signal);
    const ProgramRun run = running.Wait();

    const std::string now = ReadFile(part_);
    SCOPED_TRACE("round " + std::to_string(round) + ", signal " + strsignal(signal) + " after " +
                 std::to_string(delay) + " s");
    ASSERT_TRUE(now == program || now == rewritten) << now.size() << " bytes";
    EXPECT_TRUE(run.exit_status == 0 || run.signal == signal) << run.exit_status << run.err;
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
    if (saving && run.signal == signal && now == program) ++ended_while_saving;
  }
  EXPECT_GT(ended_while_saving, 0);
}

// Another program (an editor saving a new version, say) puts a file at the
// name while the run loads or saves: that file stays, and the run fails
// instead of writing over it what it made from the old one.
TEST_F(SaveFaults, FilePutAtTheNameDuringTheRunIsNotOverwritten) {
  const Interruption loading{{IN_OPEN, "part.nc"}, {IN_OPEN, "part.nc"}, ".other"};
  const Interruption saving{{IN_CREATE, ".ncrewrite-"}, {IN_MOVED_FROM, ".ncrewrite-"}, ".other"};
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
    const auto prepare = [&] {
      fs::remove_all(jobs_);
      fs::create_directory(jobs_);
      fs::remove(dir_.File("ncrewrite.ini"));
      if (c.tap) UseTapOutput();
      WriteFile(part_, program);
      if (c.tap_existed) WriteFile(tap_, "OLD\r\n");
    };
    const ProgramRun run = RunStoppedFor(part_, c.when, prepare, [&] {
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
      run = Run(job);
    } else {
      const std::string staged = (jobs_ / ".swap").string();
      run = RunStoppedFor(job, {{IN_OPEN, "job.nc"}, {IN_OPEN, "job.nc"}, ".swap"}, prepare, [&] {
        AsOtherUser({"/bin/ln", "-s", victim, staged});
        AsOtherUser({"/bin/mv", "-T", staged, job});
      });
    }
    ExpectFailure(run, c.kind, c.message);
    EXPECT_TRUE(Holds(victim, secret));
    EXPECT_TRUE(fs::is_symlink(swapped));
    EXPECT_EQ(Leftovers(jobs_), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(dir_.path()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace ncrewrite
