#include <cstring>

#include "textfile/file_failures.h"
#include "textfile/file_bytes.h"

namespace ncrewrite {

void FileBytes::CheckUnchanged() const {
  if (view_.is_open() && !view_.Unchanged()) RaiseReadFailure();
}

void FileBytes::MakeCopy() {
  if (!view_.is_open()) return;
  auto copy = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size_));
  std::memcpy(copy.get(), data_, static_cast<std::size_t>(size_));
  // Checked after copying: a change during the copy is caught as well.
  CheckUnchanged();
  copy_ = std::move(copy);
  data_ = copy_.get();
  view_ = FileView();
}

void FileBytes::ReleaseView() {
  if (!view_.is_open()) return;
  data_ = nullptr;
  size_ = 0;
  origin_.reset();
  if (!view_.Release()) RaiseReadFailure();
}

}  // namespace ncrewrite
