#include "failure/memory_ledger.h"

#include <array>
#include <charconv>
#include <limits>

namespace ncrewrite {
namespace {

constexpr std::size_t kRangeWidth = 16;
constexpr std::size_t kSmallBlockLimit = 256;
constexpr std::size_t kRanges = kSmallBlockLimit / kRangeWidth;

constinit MemoryLedger global_ledger;

/// The range of a small block: (16 r, 16 r + 16] bytes; an empty block
/// counts in the first.
std::size_t RangeOf(std::size_t size) noexcept { return size == 0 ? 0 : (size - 1) / kRangeWidth; }

/// Appends to a fixed buffer and keeps the end for a cut mark. Numbers are
/// written by std::to_chars: no format string, and the same digits from
/// every C library.
class Writer {
 public:
  explicit Writer(std::span<char> buffer) : buffer_(buffer) {}

  Writer& operator<<(std::string_view text) noexcept {
    if (cut_ || buffer_.size() <= kCutMark.size() + length_) return *this;
    const std::size_t room = buffer_.size() - kCutMark.size() - length_;
    if (text.size() > room) {
      kCutMark.copy(buffer_.data() + length_, kCutMark.size());
      length_ += kCutMark.size();
      cut_ = true;
      return *this;
    }
    length_ += text.copy(buffer_.data() + length_, text.size());
    return *this;
  }

  Writer& operator<<(std::size_t number) noexcept {
    std::array<char, std::numeric_limits<std::size_t>::digits10 + 1> digits;
    const char* const end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    return *this << std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data()));
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
  out << "An unexpected memory leak has occurred. ";
  if (any_small) {
    out << "The unexpected small block leaks are:\r\n\r\n";
    for (std::size_t range = 0; range < kRanges; ++range) {
      const auto [objects, arrays] = small[range];
      if (objects == 0 && arrays == 0) continue;
      out << (range == 0 ? 0 : range * kRangeWidth + 1) << " - " << (range + 1) * kRangeWidth
          << " bytes: ";
      if (objects != 0) out << "object x " << objects;
      if (objects != 0 && arrays != 0) out << ", ";
      if (arrays != 0) out << "array x " << arrays;
      out << "\r\n";
    }
    if (any_large) out << "\r\n";
  }
  if (any_large) {
    out << "The sizes of unexpected leaked medium and large blocks are: ";
    std::string_view separator = "";
    for (const BlockHeader* block = first_; block != nullptr; block = block->next) {
      if (block->size <= kSmallBlockLimit) continue;
      out << separator << block->size;
      separator = ", ";
    }
    out << "\r\n";
  }
  return out.text();
}

MemoryLedger& GlobalMemoryLedger() noexcept { return global_ledger; }

}  // namespace ncrewrite
