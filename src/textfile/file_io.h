#pragma once

// The operating system's side of loading and saving: each platform has its
// own file_io_<platform>.cpp. Errors are the platform's error codes, 0 for
// none. The policy of a safe save lives in output_file.cpp and uses only
// what is declared here.

#include <cstdint>
#include <memory>
#include <string>

namespace ncrewrite {

/// The whole content of a file, read in one piece.
struct FileContent {
  std::unique_ptr<char[]> bytes;
  std::uint64_t size = 0;
};

/// Reads the whole file at `path`. Other processes may read it meanwhile;
/// writers are kept out where the platform allows. The file is closed again
/// on every path. Raises EFOpenError when the file cannot be opened and
/// EReadError when fewer bytes arrive than its size.
FileContent ReadWholeFile(const std::string& path);

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
