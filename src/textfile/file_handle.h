#pragma once

#include <cstdint>
#include <utility>

namespace ncrewrite {

/// An open file of the platform, owned: closed on destruction when still
/// open. The handle is the platform's own number for the file (a POSIX
/// descriptor, a Windows HANDLE), with -1 for none, which is what both
/// systems use. A twin implements Close alone: it releases the handle
/// whatever happens and reports a failed close, since that may be the only
/// sign that written data did not reach the file.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(std::intptr_t handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
  }

  bool is_open() const noexcept { return handle_ != kNone; }
  std::intptr_t get() const noexcept { return handle_; }

  /// Closes the file now; gives 0 or the error of the close, which may
  /// report a write that did not reach the file.
  int Close() noexcept;

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
};

/// Which file an open handle leads to: two handles give equal identities
/// exactly when they lead to the same file, whatever names they were opened
/// by (on POSIX its device and inode number; on Windows the volume serial
/// number and the 128-bit file id). All zero when it cannot be told.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file[2] = {};
  bool operator==(const FileIdentity&) const = default;
};

/// What a write to a file changes: its size and its last modification
/// time, at the finest resolution the system keeps. Equal versions of one
/// file mean that nothing wrote to it in between, as far as the system
/// tells; all zero when they cannot be told.
struct FileVersion {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  bool operator==(const FileVersion&) const = default;
};

}  // namespace ncrewrite
