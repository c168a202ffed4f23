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
/// The file is closed again on every path. The bytes keep the identity and
/// the version of the file (FileBytes::origin). Raises EFOpenError when the file cannot be
/// opened and EReadError when fewer bytes arrive than its size.
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
  std::uint64_t size = 0;
};

FileFacts QueryFile(const FileHandle& file);

/// The identity of the open `file`, or all zero when it cannot be told.
FileIdentity IdentityOf(const FileHandle& file);

/// The version of the open `file` as it is now, or all zero when it cannot
/// be told.
FileVersion VersionOf(const FileHandle& file);

/// Where a file is, or is to be: the directory that holds it, kept open so
/// that it stays the same directory whatever is renamed meanwhile, and the
/// file's name in it. Files are made, checked and renamed only through the
/// open directory.
struct FilePlace {
  FileHandle directory;
  std::string name;
  // The full path the directory was opened by, where the platform needs it
  // because it cannot always tell the path of an open directory.
  std::string directory_path;
};

/// Opens the existing file that `path` leads to for writing without
/// changing it, and locks it against other instances of the program until
/// it is closed. The path is resolved by the system for the running user
/// alone, with its rules for following symbolic links: a link that the
/// system does not let this user follow is refused, as it would be for any
/// other program. Gives 0 with `file` open, 0 with `file` closed when
/// nothing is at `path`, else the error (no permission, a directory, a lock
/// held by someone else, ...). A symbolic link at `path` that leads to no
/// file gets that file made, empty, by the same resolution, and sets
/// `created`.
int OpenOutput(const std::string& path, FileHandle& file, bool& created);

/// The place of the open `file`, opened from `path`: the directory that
/// holds it as the system knows it (the file a link led to is in its own
/// directory) and its name there, while both that name and `path` lead to
/// `file`. Once they do not (the file was renamed, removed or replaced since
/// it was opened), the place of `path` itself, whose name then leads to
/// something else or to nothing, as CheckStillThere tells: the caller
/// answers a replacement the same way whenever it comes. Gives 0 or the
/// error of opening the directory.
int LocateOpenFile(const std::string& path, const FileHandle& file, FilePlace& place);

/// The place of a file to be made at `path`: the directory that the path
/// names, resolved by the system, and the last component. Gives 0 or the
/// error (the directory is missing, say).
int PlaceOfNewFile(const std::string& path, FilePlace& place);

/// Whether the name of `place` still leads to `file`, or to nothing at all
/// when `file` is closed: 0, or the error to report (the platform's "file
/// exists" when something else is there now).
int CheckStillThere(const FilePlace& place, const FileHandle& file);

/// Makes sure that the open regular `file` can hold `size` bytes without
/// the disk running out of room while it is overwritten from its start,
/// and changes neither its content nor its size (room is reserved past its
/// end). Where room cannot be reserved, it at least checks that the disk has
/// enough free. Gives 0 or the error (no room).
int ReserveRoom(const FileHandle& file, std::uint64_t size);

/// Cuts the open regular `file` to its first `size` bytes. Gives 0 or the
/// error.
int CutFile(const FileHandle& file, std::uint64_t size);

/// Creates a new file in the directory of `place` under a name that did not
/// exist (".ncrewrite-" and six letters or digits), readable and writable by
/// the owner only. When `existing` is open, the new file gets its owner and
/// group, and everything else of it that decides with the permission bits
/// who may read and write it: its access control list and its other
/// extended attributes (those that this user can see; none that only vouch
/// for the old content, such as an integrity hash); none that `existing`
/// lacks stays on it (such as one taken from the directory). Until it is
/// moved into place or removed (MoveIntoPlace, RemoveFileAt), a request to
/// end the process (on POSIX SIGINT, SIGTERM or SIGHUP, where not ignored)
/// removes it first. Gives 0 with `temp_name` set, or the error; on an error
/// nothing is left behind. When the new file cannot be given the owner,
/// group, access control list or attributes of `existing`, the error is one
/// for which ForbidsNewFile holds; when there is no room for them, it is not.
int CreateTempFile(const FilePlace& place, const FileHandle& existing, std::string& temp_name,
                   FileHandle& file);

/// Whether `error` from CreateTempFile means that the new file is not
/// allowed (the user may not make files there, or not give one the owner it
/// needs), as against anything that ran out or failed (room, handles, ...).
bool ForbidsNewFile(int error);

/// Writes all `size` bytes. A write that fails or makes no progress is
/// tried once more; if that one fails too, raises EWriteError.
void WriteToFile(const FileHandle& file, const char* data, std::size_t size);

/// Waits until everything written to `file` is on the disk. Gives 0 or the
/// error.
int FlushToDisk(const FileHandle& file);

/// Gives the temp file the permissions that the output will keep: those of
/// `existing` when that is open (its permission bits, and its access
/// control list and attributes as CreateTempFile gives them, as they are
/// now), else the permission bits of a newly created file. Gives 0 or the
/// error.
int MatchPermissions(const FileHandle& temp, const FileHandle& existing);

/// Puts the written, flushed and closed temp file `temp_name` in place of
/// the name of `place` in one atomic step, so that the name leads to the old
/// or the new content at every moment, even across a crash. Closes
/// `existing` (the old output, or no file) when the platform needs it and at
/// the latest on success. Gives 0 or the error; the name is unchanged after
/// an error.
int MoveIntoPlace(const FilePlace& place, const std::string& temp_name, FileHandle& existing);

/// Removes the file `name` in the directory of `place` (a temp file is then
/// no longer removed on a request to end the process); errors are ignored.
void RemoveFileAt(const FilePlace& place, const std::string& name) noexcept;

/// `path` made absolute against the current directory, with "." and ".."
/// resolved by name and no links followed. The file need not exist.
std::string FullPath(const std::string& path);

/// The system's text for `error`, without blanks, control characters and
/// full stops at its end.
std::string SystemErrorText(int error);

}  // namespace ncrewrite
