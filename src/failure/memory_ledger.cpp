#include "failure/memory_ledger.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace ncrewrite {
namespace {

constexpr std::size_t kRangeWidth = 16;
constexpr std::size_t kSmallBlockLimit = 256;
constexpr std::size_t kRanges = kSmallBlockLimit / kRangeWidth;

constinit MemoryLedger global_ledger;

/// The range of a small block: (16 r, 16 r + 16] bytes; an empty block
/// counts in the first.
std::size_t RangeOf(std::size_t size) noexcept { return size == 0 ? 0 : (size - 1) / kRangeWidth; }

/// Appends to a fixed buffer and keeps the end for a cut mark.
class Writer {
 public:
  explicit Writer(std::span<char> buffer) : buffer_(buffer) {}

  __attribute__((format(printf, 2, 3))) void Print(const char* format, ...) noexcept {
    if (cut_ || buffer_.size() <= kCutMark.size() + length_) return;
    const std::size_t room = buffer_.size() - kCutMark.size() - length_;
    std::va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(buffer_.data() + length_, room + 1, format, args);
    va_end(args);
    if (wanted < 0 || static_cast<std::size_t>(wanted) > room) {
      kCutMark.copy(buffer_.data() + length_, kCutMark.size());
      length_ += kCutMark.size();
      cut_ = true;
      return;
    }
    length_ += static_cast<std::size_t>(wanted);
  }

  std::string_view text() const noexcept { return {buffer_.data(), length_}; }

 private:
  static constexpr std::string_view kCutMark = "...";
  std::span<char> buffer_;
  std::size_t length_ = 0;
  bool cut_ = false;
};

}  // namespace

void MemoryLedger::Add(BlockHeader& block) noexcept {
  block.previous = nullptr;
  block.next = first_;
  if (first_ != nullptr) first_->previous = &block;
  first_ = &block;
  ++count_;
}

void MemoryLedger::Remove(BlockHeader& block) noexcept {
  if (block.previous != nullptr) {
    block.previous->next = block.next;
  } else {
    first_ = block.next;
  }
  if (block.next != nullptr) block.next->previous = block.previous;
  --count_;
}

std::string_view MemoryLedger::FormatLeakReport(std::span<char> buffer) const noexcept {
  std::array<std::array<std::size_t, 2>, kRanges> small{};
  bool any_small = false;
  bool any_large = false;
  for (const BlockHeader* block = first_; block != nullptr; block = block->next) {
    if (block->size <= kSmallBlockLimit) {
      ++small[RangeOf(block->size)][static_cast<std::size_t>(block->kind)];
      any_small = true;
    } else {
      any_large = true;
    }
  }

  Writer out(buffer);
  out.Print("An unexpected memory leak has occurred. ");
  if (any_small) {
    out.Print("The unexpected small block leaks are:\r\n\r\n");
    for (std::size_t range = 0; range < kRanges; ++range) {
      const auto [objects, arrays] = small[range];
      if (objects == 0 && arrays == 0) continue;
      out.Print("%zu - %zu bytes: ", range == 0 ? 0 : range * kRangeWidth + 1,
                (range + 1) * kRangeWidth);
      if (objects != 0) out.Print("object x %zu", objects);
      if (objects != 0 && arrays != 0) out.Print(", ");
      if (arrays != 0) out.Print("array x %zu", arrays);
      out.Print("\r\n");
    }
    if (any_large) out.Print("\r\n");
  }
  if (any_large) {
    out.Print("The sizes of unexpected leaked medium and large blocks are: ");
    const char* separator = "";
    for (const BlockHeader* block = first_; block != nullptr; block = block->next) {
      if (block->size <= kSmallBlockLimit) continue;
      out.Print("%s%zu", separator, block->size);
      separator = ", ";
    }
    out.Print("\r\n");
  }
  return out.text();
}

MemoryLedger& GlobalMemoryLedger() noexcept { return global_ledger; }

}  // namespace ncrewrite
