#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "textfile/file_handle.h"
#include "textfile/file_view.h"

namespace ncrewrite {

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

  /// The file the bytes were loaded from, as it was opened for loading;
  /// nothing for bytes made in memory. Kept when the view becomes a copy.
  const std::optional<FileIdentity>& origin() const noexcept { return origin_; }
  /// The version of that file that the bytes were read from.
  const FileVersion& origin_version() const noexcept { return origin_version_; }
  void set_origin(const FileIdentity& origin, const FileVersion& version) noexcept {
    origin_ = origin;
    origin_version_ = version;
  }

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

  /// Lets go of the viewed file, then raises EReadError as CheckUnchanged()
  /// when it changed since it was loaded; it is looked at last, once its
  /// bytes are let go. The bytes are empty afterwards, and come from no
  /// file. A copy stays as it is.
  void ReleaseView();

 private:
  std::unique_ptr<char[]> copy_;
  FileView view_;
  const char* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::optional<FileIdentity> origin_;
  FileVersion origin_version_;
};

}  // namespace ncrewrite
