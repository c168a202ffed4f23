// Windows maps no file for loading. A file that has a mapped view cannot be
// replaced (MoveFileExW and ReplaceFileW refuse it), and the program replaces
// the very file it has just loaded whenever it rewrites a program in place.
// So a load reads the file into memory and closes it at once (see
// file_io_win32.cpp), and Map never gives an open view: every FileBytes on
// Windows is a copy of its own, and nothing here is ever reached with a
// view that is open.
#include "textfile/file_view.h"

namespace ncrewrite {

struct FileView::State {};

FileView::FileView() noexcept = default;
FileView::FileView(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
FileView::~FileView() = default;
FileView::FileView(FileView&& other) noexcept = default;
FileView& FileView::operator=(FileView&& other) noexcept = default;

const char* FileView::data() const noexcept { return nullptr; }

FileView FileView::Map(FileHandle&, std::uint64_t) { return {}; }

// A view that shows no file has nothing that could change, and shows no
// file: the answers for the closed view, the only kind there is.
bool FileView::Unchanged() const { return true; }
bool FileView::Shows(const FileHandle&) const { return false; }
bool FileView::Release() {
  state_.reset();
  return true;
}

}  // namespace ncrewrite
