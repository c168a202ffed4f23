// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
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
bool FileView::Unchanged() const { return true; }
bool FileView::Shows(const FileHandle&) const { return false; }

}  // namespace ncrewrite
