#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "textfile/file_view.h"

namespace ncrewrite {
namespace {

// A mapped file that another process cuts short would end this process with
// SIGBUS at the first touch of a lost page. The handler below maps zeros in
// place of the lost pages instead and notes the loss, so that the run ends
// with a read failure and leaves its output as it was.

/// The address range of one view, as the signal handler sees it.
struct GuardedRange {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> lost{false};
};

constexpr std::size_t kMaxGuardedViews = 16;
std::array<GuardedRange, kMaxGuardedViews> g_ranges;
std::size_t g_guarded_views = 0;
struct sigaction g_previous_action;
std::uintptr_t g_page_size = 0;

/// Turns the lost pages of a view into zeros. Any other bus error is left
/// to whoever handled it before, or ends the process as usual.
void OnBusError(int signal, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const bool from_fault = info->si_code > 0;  // not sent by a process
  for (GuardedRange& range : g_ranges) {
    const std::uintptr_t end = range.end.load();
    if (!from_fault || address < range.begin.load() || address >= end) continue;
    // A file is cut short from its end: every later page is lost too.
    const std::uintptr_t page = address & ~(g_page_size - 1);
    if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      range.lost.store(true);
      return;
    }
  }
  ::sigaction(signal, &g_previous_action, nullptr);
  // A fault happens again on return; a sent signal must be sent again.
  if (!from_fault) ::raise(signal);
}

/// Takes a free guard for [begin, end), installing the handler for the
/// first one. Gives -1 when none is free.
int TakeGuard(const char* data, std::uint64_t size) {
  for (std::size_t k = 0; k < g_ranges.size(); ++k) {
    GuardedRange& range = g_ranges[k];
    if (range.end.load() != 0) continue;
    if (g_guarded_views == 0) {
      g_page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
      struct sigaction action = {};
      action.sa_sigaction = OnBusError;
      action.sa_flags = SA_SIGINFO;
      sigemptyset(&action.sa_mask);
      if (::sigaction(SIGBUS, &action, &g_previous_action) != 0) return -1;
    }
    ++g_guarded_views;
    range.lost.store(false);
    range.begin.store(reinterpret_cast<std::uintptr_t>(data));
    range.end.store(reinterpret_cast<std::uintptr_t>(data) + size);
    return static_cast<int>(k);
  }
  return -1;
}

void ReleaseGuard(int guard) {
  GuardedRange& range = g_ranges[static_cast<std::size_t>(guard)];
  range.end.store(0);
  range.begin.store(0);
  if (--g_guarded_views == 0) ::sigaction(SIGBUS, &g_previous_action, nullptr);
}

std::int64_t ModificationTime(const struct stat& status) {
  return std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
}

int Descriptor(const FileHandle& file) { return static_cast<int>(file.get()); }

}  // namespace

struct FileView::State {
  FileHandle file;
  char* data = nullptr;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // the file's modification time when mapped
  int guard = -1;             // the range that keeps lost pages readable

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { Unmap(); }

  /// Unmaps the bytes; gives whether a page of them was lost meanwhile.
  bool Unmap() {
    if (data == nullptr) return false;
    ::munmap(data, static_cast<std::size_t>(size));
    data = nullptr;
    if (guard < 0) return false;
    const bool lost = g_ranges[static_cast<std::size_t>(guard)].lost.load();
    ReleaseGuard(std::exchange(guard, -1));
    return lost;
  }

  /// Whether the file still has the size and modification time it was
  /// mapped with.
  bool FileAsMapped() const {
    struct stat status;
    return ::fstat(Descriptor(file), &status) == 0 &&
           static_cast<std::uint64_t>(status.st_size) == size &&
           ModificationTime(status) == modified;
  }
};

FileView::FileView() noexcept = default;
FileView::FileView(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
FileView::~FileView() = default;
FileView::FileView(FileView&& other) noexcept = default;
FileView& FileView::operator=(FileView&& other) noexcept = default;

const char* FileView::data() const noexcept { return state_ ? state_->data : nullptr; }

FileView FileView::Map(FileHandle& file, std::uint64_t size) {
  struct stat status;
  if (size == 0 || size > SIZE_MAX || ::fstat(Descriptor(file), &status) != 0) return {};
  void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE,
                      Descriptor(file), 0);
  if (data == MAP_FAILED) return {};
  auto state = std::make_unique<State>();
  state->data = static_cast<char*>(data);
  state->size = size;
  state->guard = TakeGuard(state->data, size);
  if (state->guard < 0) return {};
  // A file that is not yet cached is read ahead while the first pages are
  // worked on.
  ::madvise(data, static_cast<std::size_t>(size), MADV_WILLNEED);
  state->file = std::move(file);
  state->modified = ModificationTime(status);
  return FileView(std::move(state));
}

bool FileView::Unchanged() const {
  return !g_ranges[static_cast<std::size_t>(state_->guard)].lost.load() &&
         state_->FileAsMapped();
}

bool FileView::Release() {
  const std::unique_ptr<State> state = std::move(state_);
  // Unmapping 200 MB takes milliseconds: done before the file is looked at.
  const bool lost = state->Unmap();
  return !lost && state->FileAsMapped();
}

bool FileView::Shows(const FileHandle& file) const {
  struct stat mine;
  struct stat theirs;
  return ::fstat(Descriptor(state_->file), &mine) == 0 &&
         ::fstat(Descriptor(file), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
         mine.st_ino == theirs.st_ino;
}

}  // namespace ncrewrite
