#pragma once

// The operating system's side of loading and saving: each platform has its
// own file_io_<platform>.cpp. Errors are the platform's error codes, 0 for
// none. The policy of a safe save lives in output_file.cpp and uses only
// what is declared here.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace ncrewrite {

/// An open file of the platform. Closed on destruction when still open.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(std::intptr_t handle) : handle_(handle) {}
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;

  bool is_open() const noexcept { return handle_ != kNone; }
  std::intptr_t get() const noexcept { return handle_; }

  /// Closes the file now; gives 0 or the error of the close, which may
  /// report a write that did not reach the file.
  int Close() noexcept;

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
};

/// A read-only view of a whole file in the system's file cache, which costs
/// neither a copy nor fresh memory: filling 200 MB of fresh memory costs
/// more than reading the file itself. The view shows the file as it is now,
/// not as it was when mapped, so users of the bytes check Unchanged() before
/// they rely on what they read.
class FileView {
 public:
  FileView() = default;
  ~FileView();
  FileView(FileView&& other) noexcept;
  FileView& operator=(FileView&& other) noexcept;

  /// Maps the first `size` bytes of the open regular file `file`, which the
  /// view then keeps open: `file` is left closed. Gives a view that is not
  /// open, and leaves `file` as it was, where the platform cannot map the
  /// file; it is read instead.
  static FileView Map(FileHandle& file, std::uint64_t size);

  bool is_open() const noexcept { return data_ != nullptr; }
  const char* data() const noexcept { return data_; }

  /// Whether the bytes are still those of the file as it was mapped: it has
  /// not been cut short or written to since. A page that the file lost
  /// reads as zeros instead of ending the process, and makes this false.
  bool Unchanged() const;

  /// Whether `file` is the file that this view shows.
  bool Shows(const FileHandle& file) const;

 private:
  void Release() noexcept;

  FileHandle file_;
  char* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::int64_t modified_ = 0;  // the file's modification time when mapped
  int guard_ = -1;             // the platform's record that keeps lost pages readable
};

/// The bytes of a loaded file: a view of it, or a copy of its own.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(std::unique_ptr<char[]> copy, std::uint64_t size)
      : copy_(std::move(copy)), data_(copy_.get()), size_(size) {}
  FileBytes(FileView view, std::uint64_t size)
      : view_(std::move(view)), data_(view_.data()), size_(size) {}

  const char* data() const noexcept { return data_; }
  std::uint64_t size() const noexcept { return size_; }
  bool is_view() const noexcept { return view_.is_open(); }

  /// Raises EReadError when the bytes are a view of a file that has been
  /// cut short or written to since it was loaded: what was read from them
  /// may then be part old and part new.
  void CheckUnchanged() const;

  /// Whether the bytes are a view of `file`. Such a file must not be
  /// overwritten while the bytes are in use: see MakeCopy().
  bool Views(const FileHandle& file) const { return view_.is_open() && view_.Shows(file); }

  /// Turns a view into a copy of its own, at the same content, so that the
  /// viewed file may be overwritten. Raises EReadError as CheckUnchanged().
  void MakeCopy();

 private:
  std::unique_ptr<char[]> copy_;
  FileView view_;
  const char* data_ = nullptr;
  std::uint64_t size_ = 0;
};

/// Reads the whole file at `path` into memory of its own. Other processes
/// may read it meanwhile; writers are kept out where the platform allows.
/// The file is closed again on every path. Raises EFOpenError when the file
/// cannot be opened and EReadError when fewer bytes arrive than its size.
FileBytes ReadWholeFile(const std::string& path);

/// The whole file at `path` as a view where the platform can map it, else
/// read as by ReadWholeFile. Raises as ReadWholeFile.
FileBytes ViewWholeFile(const std::string& path);


/// What a save must know about an existing output file before it decides
/// how to replace it.
struct FileFacts {
  bool regular = false;     // a plain file, no device, pipe or socket
  std::uint64_t links = 1;  // number of names (hard links) of the file
};

/// The file that `path` leads to: symbolic links at the last component are
/// followed until a name that is no link, which need not exist. Gives
/// `path` itself when it is no link or the links cannot be read.
std::string ResolveLinks(const std::string& path);

/// Opens the existing file at `path` for writing without changing it, and
/// locks it against other instances of the program until it is closed.
/// Gives 0 with `file` open; 0 with `file` closed when nothing is at
/// `path`; else the error (no permission, a directory, a lock held by
/// someone else, ...).
int OpenExistingOutput(const std::string& path, FileHandle& file);

FileFacts QueryFile(const FileHandle& file);

/// Empties an open file. Gives 0 or the error.
int TruncateFile(const FileHandle& file);

/// Creates the file at `path`, or opens it when it exists, for writing in
/// place, locked as by OpenExistingOutput. Gives 0 or the error.
int CreateOutputInPlace(const std::string& path, FileHandle& file);

/// Creates a new file beside `target` (in its directory) under a name that
/// did not exist, readable and writable by the owner only, and owned like
/// `existing` when that is open. Gives 0 with `temp_path` set, or the error;
/// on an error nothing is left behind.
int CreateTempFileBeside(const std::string& target, const FileHandle& existing,
                         std::string& temp_path, FileHandle& file);

/// Writes all `size` bytes. A write that fails or makes no progress is
/// tried once more; if that one fails too, raises EWriteError.
void WriteToFile(const FileHandle& file, const char* data, std::size_t size);

/// Waits until everything written to `file` is on the disk. Gives 0 or the
/// error.
int FlushToDisk(const FileHandle& file);

/// Gives the temp file the permissions that the output will keep: those of
/// `existing` when that is open, else those of a newly created file. Gives 0
/// or the error.
int MatchPermissions(const FileHandle& temp, const FileHandle& existing);

/// Puts the written, flushed and closed temp file in place of `target` in
/// one atomic step, so that `target` holds the old or the new content at
/// every moment, even across a crash. Closes `existing` (the old output, or
/// no file) when the platform needs it and at the latest on success. Gives 0
/// or the error; `target` is unchanged after an error.
int MoveIntoPlace(const std::string& temp_path, const std::string& target,
                  FileHandle& existing);

/// Removes the file at `path`; errors are ignored.
void RemoveFile(const std::string& path) noexcept;

/// `path` made absolute against the current directory, with "." and ".."
/// resolved by name and no links followed. The file need not exist.
std::string FullPath(const std::string& path);

/// The system's text for `error`, without blanks, control characters and
/// full stops at its end.
std::string SystemErrorText(int error);

}  // namespace ncrewrite
