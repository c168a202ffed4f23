#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "textfile/file_io.h"

namespace ncrewrite {

/// A save in progress. The content goes to a new file beside the output,
/// which takes the output's place in one atomic step on PutInPlace, so that
/// the output holds its old content after any failure and the whole new
/// content after success, even across a crash or a power cut.
///
/// The output is opened by its path as the system resolves it for the
/// running user: a symbolic link stays a link, and the file it leads to gets
/// the new content, in that file's directory, where the system lets the
/// user follow the link. The new file is made and renamed through that
/// directory, held open, and only while its name still leads to the file
/// that was opened (or to nothing, for a new output).
///
/// The output is written in place instead, over its old content, where
/// replacing it would break what users rely on: a file with several hard
/// links (replacing would split them), a device or pipe, a file whose
/// owner, group, access control list or other extended attributes the new
/// file could not be given (who may use it would change), or one in a
/// directory where the user may not make a new file. Lack of room or of handles for the new file is
/// no such reason: the save fails then. A regular file is only written in
/// place once room for the whole content is reserved (MakeRoom).
class OutputFile {
 public:
  /// Prepares the save to `path`; the output is locked against other
  /// instances until the save ends. The content is written from `source`,
  /// which is first turned into a copy when it is a view of the very file
  /// that is written in place. With `replaces_source`, the output must be
  /// the file that `source` was loaded from. Raises EFCreateError with the
  /// full path of `path` when the output can be neither replaced nor
  /// written, and EReadError when `source` must be copied but its file has
  /// changed, or when `replaces_source` and `path` leads to another file.
  OutputFile(const std::string& path, FileBytes& source, bool replaces_source);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Whether the content is written over the old content of a regular
  /// file, which must first have room for the whole new content.
  bool needs_room() const noexcept { return overwrites_regular_file_; }

  /// Makes sure that the output can take `size` bytes, the whole content,
  /// before anything is written over it. Raises EFCreateError, with the
  /// output unchanged, when there is not enough room.
  void MakeRoom(std::uint64_t size);

  /// Writes all `size` bytes. Raises EWriteError.
  void Write(const char* data, std::size_t size);

  /// Flushes the content to the disk, gives it the output's permissions
  /// (bits, access control list and attributes, as they are now) and closes
  /// it, so that only putting it in place is left (a file written in place
  /// is cut to the new content's end). Raises EWriteError when the
  /// content may not have reached the disk, and EFCreateError when the
  /// permissions cannot be set; the output is unchanged then (when not
  /// written in place).
  void Seal();

  /// Puts the sealed content in place of the output in one step, once the
  /// output's name is checked to lead still to the file that was opened.
  /// Raises EFCreateError when the output cannot be replaced, or has been
  /// replaced by another file meanwhile (EReadError with `replaces_source`:
  /// the source has then been put aside); it is unchanged then.
  void PutInPlace();

 private:
  void PrepareInPlace(FileBytes& source);
  [[noreturn]] void RaiseReplacedMeanwhile(int error);

  std::string path_;  // as given: failure messages name it
  bool replaces_source_;
  FileHandle existing_;  // the output before the save, locked; closed when none
  bool remove_created_ = false;  // existing_ was made for this save and is still empty
  FilePlace place_;              // where the output is; unknown for a device, pipe, ...
  bool in_place_ = false;        // written over existing_ itself
  bool overwrites_regular_file_ = false;
  std::uint64_t written_ = 0;
  FileHandle temp_;        // the new file while it is written
  std::string temp_name_;  // its name in place_; empty when there is none
};

}  // namespace ncrewrite
