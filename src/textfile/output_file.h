#pragma once

#include <cstddef>
#include <string>

#include "textfile/file_io.h"

namespace ncrewrite {

/// A save in progress. The content goes to a new file beside the output,
/// which takes the output's place in one atomic step on PutInPlace, so that
/// the output holds its old content after any failure and the whole new
/// content after success, even across a crash or a power cut.
///
/// The output is written in place instead, emptied first, where replacing it
/// would break what users rely on: a file with several hard links (replacing
/// would split them), a device or pipe, or a directory in which no new file
/// can be made while the output itself is writable. A symbolic link at the
/// path stays a link; the file it leads to gets the new content.
class OutputFile {
 public:
  /// Prepares the save to `path`; the output is locked against other
  /// instances until the save ends. The content is written from `source`,
  /// which is first turned into a copy when it is a view of the very file
  /// that is written in place. Raises EFCreateError with the full path of
  /// `path` when the output can be neither replaced nor written, and
  /// EReadError when `source` must be copied but its file has changed.
  OutputFile(const std::string& path, FileBytes& source);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Writes all `size` bytes. Raises EWriteError.
  void Write(const char* data, std::size_t size);

  /// Flushes the content to the disk, gives it the output's permissions and
  /// closes it, so that only putting it in place is left. Raises
  /// EWriteError when the content may not have reached the disk, and
  /// EFCreateError when the permissions cannot be set; the output is
  /// unchanged then (when not written in place).
  void Seal();

  /// Puts the sealed content in place of the output in one step. Raises
  /// EFCreateError when the output cannot be replaced; it is unchanged then.
  void PutInPlace();

 private:
  /// The new file while it is written; removed unless it was put in place.
  struct TempFile {
    FileHandle file;
    std::string path;  // empty when there is none
    ~TempFile();
  };

  void PrepareInPlace(FileBytes& source);

  std::string path_;     // as given: failure messages name it
  std::string target_;   // the file that gets the content
  FileHandle existing_;  // the output before the save, locked; closed when none
  FileHandle in_place_;  // the output, when written in place
  TempFile temp_;
};

}  // namespace ncrewrite
