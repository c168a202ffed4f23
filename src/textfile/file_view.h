#pragma once

#include <cstdint>
#include <memory>

#include "textfile/file_handle.h"

namespace ncrewrite {

/// A read-only view of a whole file in the system's file cache, which costs
/// neither a copy nor fresh memory: filling 200 MB of fresh memory costs
/// more than reading the file itself. The view shows the file as it is now,
/// not as it was when mapped, so users of the bytes check Unchanged() before
/// they rely on what they read.
///
/// What a platform's twin must guarantee: Map gives a view that is not
/// open, and leaves `file` as it was, whenever it does not map this file
/// (a platform may map none at all: the file is then read into memory,
/// which is as good a way to load); while a view is open, its bytes can be
/// read without ending the process even when another process cuts the file
/// short, and Unchanged() tells whether that or a write has happened. A
/// viewed file need not be replaceable: the save lets go of the view first
/// (Release), and Release checks only once the bytes are let go, so that
/// nothing slow comes between its check and the save's last step.
class FileView {
 public:
  FileView() noexcept;
  ~FileView();
  FileView(FileView&& other) noexcept;
  FileView& operator=(FileView&& other) noexcept;

  /// Maps the first `size` bytes of the open regular file `file`, which the
  /// view then keeps open: `file` is left closed. Gives a view that is not
  /// open, and leaves `file` as it was, where the platform does not map the
  /// file; it is read instead.
  static FileView Map(FileHandle& file, std::uint64_t size);

  bool is_open() const noexcept { return state_ != nullptr; }
  const char* data() const noexcept;

  /// Whether the bytes are still those of the file as it was mapped: it has
  /// not been cut short or written to since. A page that the file lost
  /// reads as zeros instead of ending the process, and makes this false.
  bool Unchanged() const;

  /// Lets go of the bytes and then of the file, and gives whether the bytes
  /// were still those of the file as it was mapped (as Unchanged()). The
  /// file is looked at after the bytes are let go, just before it is
  /// closed: a change until then is told. The view is not open afterwards.
  bool Release();

  /// Whether `file` is the file that this view shows.
  bool Shows(const FileHandle& file) const;

 private:
  struct State;  // the platform's own: the mapping and what it was mapped from
  explicit FileView(std::unique_ptr<State> state) noexcept;

  std::unique_ptr<State> state_;
};

}  // namespace ncrewrite
