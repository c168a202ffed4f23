#pragma once

// The operating system's side of loading and saving: each platform has its
// own file_io_<platform>.cpp. Errors are the platform's error codes, 0 for
// none, which SystemErrorText must know. The policy of a safe save lives in
// output_file.cpp and uses only what is declared here, so a twin gives
// each function exactly the meaning its comment states, paths carried as
// failure/platform_text.h says, and closes every handle it opens on every
// path.

#include <cstdint>
#include <optional>
#include <string>

#include "textfile/file_bytes.h"
#include "textfile/file_handle.h"

namespace ncrewrite {

/// Reads the whole file at `path` into memory of its own. Other processes
/// may read it meanwhile; writers are kept out where the platform allows.
/// The file is closed again on every path. Raises EFOpenError when the file
/// cannot be opened and EReadError when fewer bytes arrive than its size.
FileBytes ReadWholeFile(const std::string& path);

/// The whole file at `path` as a view where the platform maps it, else
/// read as by ReadWholeFile. Raises as ReadWholeFile.
FileBytes ViewWholeFile(const std::string& path);

/// The whole content of the small regular file at `path`, such as a
/// settings file, or nothing when there is no such file or it cannot be
/// read: the callers treat a missing file and an unreadable one alike.
/// Never raises a failure, and never blocks on a FIFO or device at `path`.
std::optional<std::string> ReadSmallFile(const std::string& path);


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
