#include "textfile/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
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

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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
  return ReadOpenFile(file, SizeOf(file));
}

FileBytes ViewWholeFile(const std::string& path) {
  FileHandle file = OpenForLoading(path);
  const int fd = Descriptor(file);
  const std::uint64_t size = SizeOf(file);
  FileView view = FileView::Map(file, size);
  if (!view.is_open()) return ReadOpenFile(file, size);
  // The view keeps the file open. Its lock would keep this very process
  // from saving over the file, and a change is caught by the view itself.
  ::flock(fd, LOCK_UN);
  return FileBytes(std::move(view), size);
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

std::string ResolveLinks(const std::string& path) {
  std::string resolved = path;
  // As many links as the kernel follows in one lookup; a longer chain or a
  // loop is left to the open, which reports it.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status;
    if (::lstat(resolved.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return resolved;
    std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
    const ssize_t length = ::readlink(resolved.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = resolved.rfind('/');
    resolved = target.front() == '/' || slash == std::string::npos
                   ? target
                   : resolved.substr(0, slash + 1) + target;
  }
  return path;
}

int OpenExistingOutput(const std::string& path, FileHandle& file) {
  const int error = OpenLockedForWriting(path, 0, file);
  return error == ENOENT ? 0 : error;
}

FileFacts QueryFile(const FileHandle& file) {
  struct stat status;
  if (::fstat(Descriptor(file), &status) != 0) return {};
  return {S_ISREG(status.st_mode), static_cast<std::uint64_t>(status.st_nlink)};
}

int TruncateFile(const FileHandle& file) {
  return ::ftruncate(Descriptor(file), 0) == 0 ? 0 : errno;
}

int CreateOutputInPlace(const std::string& path, FileHandle& file) {
  return OpenLockedForWriting(path, O_CREAT, file);
}

int CreateTempFileBeside(const std::string& target, const FileHandle& existing,
                         std::string& temp_path, FileHandle& file) {
  std::string name = DirectoryOf(target) + "/.ncrewrite-XXXXXX";
  FileHandle created(::mkostemp(name.data(), O_CLOEXEC));  // mode 0600
  if (!created.is_open()) return errno;
  struct stat status;
  if (existing.is_open() && ::fstat(Descriptor(existing), &status) == 0 &&
      (status.st_uid != ::geteuid() || status.st_gid != ::getegid()) &&
      ::fchown(Descriptor(created), status.st_uid, status.st_gid) != 0) {
    // The replaced file would change its owner: better written in place.
    const int error = errno;
    ::unlink(name.c_str());
    return error;
  }
  temp_path = std::move(name);
  file = std::move(created);
  return 0;
}

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
  struct stat status;
  if (existing.is_open() && ::fstat(Descriptor(existing), &status) == 0) {
    mode = status.st_mode & 07777;
  }
  return ::fchmod(Descriptor(temp), mode) == 0 ? 0 : errno;
}

int MoveIntoPlace(const std::string& temp_path, const std::string& target,
                  FileHandle& existing) {
  if (::rename(temp_path.c_str(), target.c_str()) != 0) return errno;
  // The new name must survive a power cut too; some file systems cannot
  // flush a directory, and the rename has happened anyway.
  const FileHandle directory(
      ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.is_open()) FlushToDisk(directory);
  existing.Close();
  return 0;
}

void RemoveFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

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
