#pragma once

// The operating system's side of loading and saving: each platform has its
// own file_io_<platform>.cpp. Errors are the platform's error codes.

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

/// A file being written. Closed on destruction when Close was not reached.
class OutputFile {
 public:
  /// Creates the file at `path`, or empties it; nobody else may open it
  /// meanwhile where the platform allows. Raises EFCreateError.
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Writes all `size` bytes. A write that fails or makes no progress is
  /// tried once more; if that one fails too, raises EWriteError.
  void Write(const char* data, std::size_t size);

  /// Closes the file, checking that everything written reached it. Raises
  /// EWriteError.
  void Close();

 private:
  std::string path_;
  std::intptr_t handle_;
};

/// `path` made absolute against the current directory, with "." and ".."
/// resolved by name and no links followed. The file need not exist.
std::string FullPath(const std::string& path);

/// The system's text for `error`, without blanks, control characters and
/// full stops at its end.
std::string SystemErrorText(int error);

}  // namespace ncrewrite
