#include "textfile/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "textfile/file_failures.h"

namespace ncrewrite {
namespace {

// Larger requests are split: Linux moves at most about 2 GiB per call.
constexpr std::size_t kMaxRequest = std::size_t{1} << 30;

/// Opens without blocking (a FIFO put at the path must not hang the run),
/// then makes the descriptor blocking again for the real transfer.
int OpenNonBlocking(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

/// Takes an advisory lock so that another instance of the program cannot
/// write a file while it is read, nor open one while it is written. Only a
/// lock held by someone else counts as a conflict; a file system without
/// locks does not stop the run.
bool ConflictsWithLock(int fd, int operation) {
  return ::flock(fd, operation | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

/// Asks for huge pages for a buffer before it is first touched. Filling a
/// fresh buffer of 200 MB page by page costs about as much again as copying
/// the file into it (330 ms against 180 ms here); with one fault per 2 MiB
/// it takes 215 ms. Only advice: nothing depends on its being followed.
void AskForHugePages(char* data, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (first + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (first + size) & ~(kHugePage - 1);
  if (begin < end) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void ReadFully(int fd, char* data, std::uint64_t size) {
  std::uint64_t done = 0;
  while (done < size) {
    const auto request = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, kMaxRequest));
    const ssize_t got = ::read(fd, data + done, request);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) RaiseReadFailure();
    done += static_cast<std::uint64_t>(got);
  }
}

/// Writes once; a request that fails counts as having written nothing.
std::size_t WriteOnce(int fd, const char* data, std::size_t size) {
  ssize_t written;
  do {
    written = ::write(fd, data, std::min(size, kMaxRequest));
  } while (written < 0 && errno == EINTR);
  return written > 0 ? static_cast<std::size_t>(written) : 0;
}


int Descriptor(const FileHandle& file) { return static_cast<int>(file.get()); }

/// Opens `path` for reading and takes a shared lock, which keeps other
/// instances of the program from writing the file while it is read.
/// Raises EFOpenError.
FileHandle OpenForLoading(const std::string& path) {
  FileHandle file(OpenNonBlocking(path, O_RDONLY));
  if (!file.is_open()) RaiseOpenFailure(path, errno);
  if (ConflictsWithLock(Descriptor(file), LOCK_SH)) RaiseOpenFailure(path, EWOULDBLOCK);
  return file;
}

/// The size of the open file. Raises EReadError.
std::uint64_t SizeOf(const FileHandle& file) {
  struct stat status;
  if (::fstat(Descriptor(file), &status) != 0) RaiseReadFailure();
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > PTRDIFF_MAX) throw std::bad_alloc();
  return size;
}

/// Reads the `size` bytes of the open `file` into memory of its own.
/// Raises EReadError when fewer arrive.
FileBytes ReadOpenFile(const FileHandle& file, std::uint64_t size) {
  auto copy = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
  AskForHugePages(copy.get(), static_cast<std::size_t>(size));
  ReadFully(Descriptor(file), copy.get(), size);
  return FileBytes(std::move(copy), size);
}

/// Opens `path` and takes the lock that keeps other instances out while the
/// output is saved.
int OpenLockedForWriting(const std::string& path, int flags, FileHandle& file) {
  FileHandle opened(OpenNonBlocking(path, O_WRONLY | flags, 0666));
  if (!opened.is_open()) return errno;
  if (ConflictsWithLock(Descriptor(opened), LOCK_EX)) return EWOULDBLOCK;
  file = std::move(opened);
  return 0;
}

/// Opens the directory of `path` and takes the last component as the name:
/// the path is resolved by the system, as any open would resolve it.
int OpenPlace(const std::string& path, FilePlace& place) {
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return EISDIR;
  // Only a handle to name the directory by: no permission to read it needed.
  FileHandle opened(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!opened.is_open()) return errno;
  place.directory = std::move(opened);
  place.name = std::move(name);
  return 0;
}

bool SameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

/// Whether `path`, resolved by the system, leads to the open `file`.
bool LeadsTo(const std::string& path, const FileHandle& file) {
  struct stat named;
  struct stat opened;
  return ::stat(path.c_str(), &named) == 0 && ::fstat(Descriptor(file), &opened) == 0 &&
         SameFile(named, opened);
}

// A request to end the process while a temp file exists removes it first, as
// the handler below does: it finds the file by the directory and the name
// kept here, which need no memory to reach. The signals are held back while
// a temp file and this record change together.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t g_temp_directory = -1;
char g_temp_name[32];
struct sigaction g_previous_actions[std::size(kEndingSignals)];
bool g_handlers_installed = false;

void RemoveTempFileAndEnd(int signal) {
  const int saved_errno = errno;
  if (g_temp_directory >= 0) ::unlinkat(g_temp_directory, g_temp_name, 0);
  g_temp_directory = -1;
  for (std::size_t k = 0; k < std::size(kEndingSignals); ++k) {
    if (kEndingSignals[k] == signal) ::sigaction(signal, &g_previous_actions[k], nullptr);
  }
  // Held back until the handler returns, then ends the process as it would
  // have without the handler.
  ::raise(signal);
  errno = saved_errno;
}

/// Installs the handler for each ending signal that is not ignored: a run
/// started with one ignored (nohup, say) keeps ignoring it.
void InstallHandlersOnce() {
  if (std::exchange(g_handlers_installed, true)) return;
  struct sigaction action = {};
  action.sa_handler = RemoveTempFileAndEnd;
  sigemptyset(&action.sa_mask);
  for (const int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (std::size_t k = 0; k < std::size(kEndingSignals); ++k) {
    struct sigaction& previous = g_previous_actions[k];
    if (::sigaction(kEndingSignals[k], nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN) continue;
    ::sigaction(kEndingSignals[k], &action, nullptr);
  }
}

/// Holds the ending signals back for its lifetime.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kEndingSignals) sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

/// Six letters or digits that are hard to guess, for a temp file name.
std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^
           static_cast<std::uint64_t>(now.tv_sec) ^ static_cast<std::uint64_t>(::getpid()) << 32;
  }
  std::string suffix(6, '\0');
  for (char& letter : suffix) {
    letter = kLetters[bits % (sizeof kLetters - 1)];
    bits /= sizeof kLetters - 1;
  }
  return suffix;
}

/// The names of the extended attributes of `fd` that this process may see,
/// each ended by a zero byte; none where the file system keeps none. Gives
/// 0 or the error. A file without attributes costs one call.
int ListAttributes(int fd, std::vector<char>& names) {
  char first[1024];
  ssize_t size = ::flistxattr(fd, first, sizeof first);
  if (size >= 0) {
    names.assign(first, first + size);
    return 0;
  }
  while (errno == ERANGE) {
    size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) break;
    names.resize(static_cast<std::size_t>(size));
    size = ::flistxattr(fd, names.data(), names.size());
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size));
      return 0;
    }
  }
  if (errno != ENOTSUP) return errno;
  names.clear();  // the file system keeps no attributes
  return 0;
}

/// The names in a list of ListAttributes.
std::vector<std::string_view> AttributeNames(const std::vector<char>& list) {
  std::vector<std::string_view> names;
  for (std::size_t at = 0; at < list.size();) {
    names.emplace_back(list.data() + at);
    at += names.back().size() + 1;
  }
  return names;
}

/// The value of the attribute `name` of `fd`. Gives 0, ENODATA when the
/// file has no such attribute, or the error.
int AttributeValue(int fd, const std::string& name, std::vector<char>& value) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return errno;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return 0;
    }
    if (errno != ERANGE) return errno;  // else it grew meanwhile
  }
}

/// Whether the attribute is the kernel's record of the content or of the
/// inode itself (an integrity hash or signature): it vouches for the old
/// file only, and the kernel gives a new file its own where it keeps them.
bool VouchesForTheOldFile(std::string_view name) {
  return name == "security.ima" || name == "security.evm";
}

/// Gives `to` the extended attributes of `from`, access control lists
/// (system.posix_acl_access, ...) and labels (security.*) among them: each
/// one is set where its value differs, and those that `from` lacks (such as
/// an access control list that `to` took from its directory) are removed;
/// `changed` tells whether any was. Gives 0 or the error of the first that
/// could be neither read, set nor removed.
int MatchAttributes(int from, int to, bool& changed) {
  changed = false;
  std::vector<char> wanted_list;
  std::vector<char> present_list;
  if (const int error = ListAttributes(from, wanted_list)) return error;
  if (const int error = ListAttributes(to, present_list)) return error;
  if (wanted_list.empty() && present_list.empty()) return 0;
  const std::vector<std::string_view> wanted = AttributeNames(wanted_list);
  std::vector<char> value;
  std::vector<char> current;
  for (const std::string_view view : wanted) {
    if (VouchesForTheOldFile(view)) continue;
    const std::string name(view);
    const int error = AttributeValue(from, name, value);
    if (error == ENODATA) continue;  // removed meanwhile
    if (error != 0) return error;
    if (AttributeValue(to, name, current) == 0 && current == value) continue;
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return errno;
    changed = true;
  }
  for (const std::string_view view : AttributeNames(present_list)) {
    if (VouchesForTheOldFile(view) || std::find(wanted.begin(), wanted.end(), view) != wanted.end()) {
      continue;
    }
    if (::fremovexattr(to, std::string(view).c_str()) != 0 && errno != ENODATA) return errno;
    changed = true;
  }
  return 0;
}

/// Gives the new file `to` the owner, the group and the attributes of
/// `from`, which decide with the permission bits who may read and write it,
/// and leaves it readable and writable by its owner only. Gives 0, EPERM
/// when the new file may not have them, or the error.
int GiveAccessOf(int from, int to) {
  struct stat wanted;
  struct stat made;
  if (::fstat(from, &wanted) != 0 || ::fstat(to, &made) != 0) return errno;
  // The group as well: in a directory with the set-group-ID bit a new file
  // has the directory's group, whoever makes it.
  if ((made.st_uid != wanted.st_uid || made.st_gid != wanted.st_gid) &&
      ::fchown(to, wanted.st_uid, wanted.st_gid) != 0) {
    return EPERM;
  }
  bool changed = false;
  const int error = MatchAttributes(from, to, changed);
  if (error == EPERM || error == EACCES || error == ENOTSUP) return EPERM;
  if (error != 0) return error;
  // A copied access control list lets others in before the content is
  // whole; the permissions of the output come once it is (MatchPermissions).
  // Only then: some file systems (FAT) refuse modes they cannot keep.
  return !changed || ::fchmod(to, 0600) == 0 ? 0 : errno;
}

/// Makes the file `name` in `directory` for `existing`: with its owner,
/// group and attributes, when that is open. Gives 0 with `file` open, or the
/// error.
int MakeTempFile(int directory, const std::string& name, const FileHandle& existing,
                 FileHandle& file) {
  FileHandle created(::openat(directory, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!created.is_open()) return errno;
  if (existing.is_open()) {
    if (const int error = GiveAccessOf(Descriptor(existing), Descriptor(created))) {
      // EPERM: the replaced file would change who may use it; better
      // written in place.
      ::unlinkat(directory, name.c_str(), 0);
      return error;
    }
  }
  file = std::move(created);
  return 0;
}

mode_t NewFileMode() {
  // The mask can only be read by setting it; the program has one thread.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
  const FileHandle file = OpenForLoading(path);
  const FileVersion version = VersionOf(file);
  FileBytes bytes = ReadOpenFile(file, SizeOf(file));
  bytes.set_origin(IdentityOf(file), version);
  return bytes;
}

FileBytes ViewWholeFile(const std::string& path) {
  FileHandle file = OpenForLoading(path);
  const int fd = Descriptor(file);
  const std::uint64_t size = SizeOf(file);
  const FileIdentity origin = IdentityOf(file);
  const FileVersion version = VersionOf(file);
  FileView view = FileView::Map(file, size);
  FileBytes bytes = view.is_open() ? FileBytes(std::move(view), size) : ReadOpenFile(file, size);
  // The view keeps the file open. Its lock would keep this very process
  // from saving over the file, and a change is caught by the view itself.
  if (bytes.is_view()) ::flock(fd, LOCK_UN);
  bytes.set_origin(origin, version);
  return bytes;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  const FileHandle file(OpenNonBlocking(path, O_RDONLY));
  struct stat status;
  if (!file.is_open() || ::fstat(Descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(Descriptor(file), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
}

FileFacts QueryFile(const FileHandle& file) {
  struct stat status;
  if (::fstat(Descriptor(file), &status) != 0) return {};
  return {S_ISREG(status.st_mode), static_cast<std::uint64_t>(status.st_nlink),
          static_cast<std::uint64_t>(status.st_size)};
}

FileIdentity IdentityOf(const FileHandle& file) {
  struct stat status;
  if (::fstat(Descriptor(file), &status) != 0) return {};
  return {static_cast<std::uint64_t>(status.st_dev), {static_cast<std::uint64_t>(status.st_ino)}};
}

FileVersion VersionOf(const FileHandle& file) {
  struct stat status;
  if (::fstat(Descriptor(file), &status) != 0) return {};
  return {static_cast<std::uint64_t>(status.st_size),
          std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec};
}

int OpenOutput(const std::string& path, FileHandle& file, bool& created) {
  created = false;
  const int error = OpenLockedForWriting(path, 0, file);
  if (error != ENOENT) return error;
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return 0;
  const int creation_error = OpenLockedForWriting(path, O_CREAT, file);
  created = creation_error == 0;
  return creation_error;
}

int LocateOpenFile(const std::string& path, const FileHandle& file, FilePlace& place) {
  // The kernel's own name of the opened file, links resolved as the open
  // resolved them; without /proc, the path as given.
  const std::string own_name = "/proc/self/fd/" + std::to_string(Descriptor(file));
  char name[PATH_MAX];
  const ssize_t length = ::readlink(own_name.c_str(), name, sizeof name);
  const bool known = length > 0 && static_cast<std::size_t>(length) < sizeof name && name[0] == '/';
  if (known && LeadsTo(path, file)) {
    FilePlace found;
    if (const int error = OpenPlace(std::string(name, static_cast<std::size_t>(length)), found)) {
      return error;
    }
    if (CheckStillThere(found, file) == 0) {
      place = std::move(found);
      return 0;
    }
  }
  // Renamed, removed or replaced since it was opened (the kernel then names
  // it by its new name, or adds " (deleted)"): the name as given, which
  // leads elsewhere now.
  return OpenPlace(path, place);
}

int PlaceOfNewFile(const std::string& path, FilePlace& place) { return OpenPlace(path, place); }

int CheckStillThere(const FilePlace& place, const FileHandle& file) {
  struct stat named;
  if (::fstatat(Descriptor(place.directory), place.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) !=
      0) {
    return errno == ENOENT && !file.is_open() ? 0 : errno;
  }
  struct stat opened;
  if (!file.is_open()) return EEXIST;
  if (::fstat(Descriptor(file), &opened) != 0) return errno;
  return SameFile(named, opened) ? 0 : EEXIST;
}

int ReserveRoom(const FileHandle& file, std::uint64_t size) {
  if (size == 0) return 0;
  const int fd = Descriptor(file);
  int result;
  do {
    result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  // The file system cannot reserve: its free room must at least hold what
  // the file does not have yet. One that tells no size at all (ramfs) has
  // no limit to check.
  struct stat status;
  struct statvfs disk;
  if (::fstat(fd, &status) != 0 || ::fstatvfs(fd, &disk) != 0 || disk.f_blocks == 0) return 0;
  const auto held = static_cast<std::uint64_t>(status.st_blocks) * 512;
  const std::uint64_t free = std::uint64_t{disk.f_bavail} * disk.f_frsize;
  return size <= held || size - held <= free ? 0 : ENOSPC;
}

int CutFile(const FileHandle& file, std::uint64_t size) {
  return ::ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int CreateTempFile(const FilePlace& place, const FileHandle& existing, std::string& temp_name,
                   FileHandle& file) {
  const int directory = Descriptor(place.directory);
  const HeldSignals held;
  InstallHandlersOnce();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".ncrewrite-" + RandomSuffix();
    const int error = MakeTempFile(directory, name, existing, file);
    if (error == EEXIST) continue;
    if (error != 0) return error;
    name.copy(g_temp_name, sizeof g_temp_name - 1);
    g_temp_name[name.size()] = '\0';
    g_temp_directory = directory;
    temp_name = std::move(name);
    return 0;
  }
  return EEXIST;
}

bool ForbidsNewFile(int error) { return error == EACCES || error == EPERM; }

void WriteToFile(const FileHandle& file, const char* data, std::size_t size) {
  const int fd = Descriptor(file);
  bool retried = false;
  while (size > 0) {
    const std::size_t written = WriteOnce(fd, data, size);
    if (written == 0) {
      if (retried) RaiseWriteFailure();
      retried = true;
    }
    data += written;
    size -= written;
  }
}

int FlushToDisk(const FileHandle& file) {
  int result;
  do {
    result = ::fsync(Descriptor(file));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

int MatchPermissions(const FileHandle& temp, const FileHandle& existing) {
  mode_t mode = NewFileMode();
  if (existing.is_open()) {
    struct stat status;
    if (::fstat(Descriptor(existing), &status) != 0) return errno;
    mode = status.st_mode & 07777;
    // Once more, as they are now: they may have changed during the save.
    // Setting an access control list sets mode bits too, so the mode comes
    // last.
    bool changed = false;
    if (const int error = MatchAttributes(Descriptor(existing), Descriptor(temp), changed)) {
      return error;
    }
  }
  return ::fchmod(Descriptor(temp), mode) == 0 ? 0 : errno;
}

int MoveIntoPlace(const FilePlace& place, const std::string& temp_name, FileHandle& existing) {
  const int directory = Descriptor(place.directory);
  {
    const HeldSignals held;
    if (::renameat(directory, temp_name.c_str(), directory, place.name.c_str()) != 0) return errno;
    g_temp_directory = -1;
  }
  // The new name must survive a power cut too; some file systems cannot
  // flush a directory, and the rename has happened anyway.
  const FileHandle flushed(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (flushed.is_open()) FlushToDisk(flushed);
  existing.Close();
  return 0;
}

void RemoveFileAt(const FilePlace& place, const std::string& name) noexcept {
  const int directory = Descriptor(place.directory);
  const HeldSignals held;
  if (g_temp_directory == directory && name == g_temp_name) g_temp_directory = -1;
  ::unlinkat(directory, name.c_str(), 0);
}

std::string FullPath(const std::string& path) {
  std::string joined = path;
  if (path.empty() || path.front() != '/') {
    std::vector<char> directory(4096);
    while (::getcwd(directory.data(), directory.size()) == nullptr && errno == ERANGE) {
      directory.resize(directory.size() * 2);
    }
    joined = std::string(directory.data()) + "/" + path;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t slash = std::min(joined.find('/', start), joined.size());
    const std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string full;
  for (const std::string& segment : segments) full += "/" + segment;
  return full.empty() ? "/" : full;
}

std::string SystemErrorText(int error) { return TrimSystemText(std::strerror(error)); }

}  // namespace ncrewrite
