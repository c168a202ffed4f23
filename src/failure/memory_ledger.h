#pragma once

// Bookkeeping of the memory blocks that the program's global allocation
// functions hand out, for the leak report at the very end of shutdown.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ncrewrite {

/// How a block was asked for: by operator new or by operator new[].
enum class BlockKind : std::uint32_t { kObject, kArray };

/// Lies right in front of every block handed out, and links the blocks in
/// use into one list.
struct alignas(16) BlockHeader {
  BlockHeader* previous;
  BlockHeader* next;
  std::size_t size;           // as asked for
  BlockKind kind;
  std::uint32_t base_offset;  // from the start of the underlying allocation to the block
};
static_assert(sizeof(BlockHeader) == 32);

/// The blocks in use. Adding and removing cost O(1) and never allocate; the
/// leak report walks the list once.
class MemoryLedger {
 public:
  constexpr MemoryLedger() = default;
  MemoryLedger(const MemoryLedger&) = delete;
  MemoryLedger& operator=(const MemoryLedger&) = delete;

  void Add(BlockHeader& block) noexcept;
  void Remove(BlockHeader& block) noexcept;
  std::size_t blocks_in_use() const noexcept { return count_; }

  /// Writes the leak report's text into `buffer` and returns it:
  /// "An unexpected memory leak has occurred. ", then, after "The unexpected
  /// small block leaks are:", one line per size range of 16 bytes up to 256
  /// with the count of each kind, then, after "The sizes of unexpected leaked
  /// medium and large blocks are: ", the sizes of the larger blocks. Lines end
  /// with CR LF. A section with no blocks is left out; what does not fit in
  /// the buffer is cut and marked with "...". Needs no memory.
  std::string_view FormatLeakReport(std::span<char> buffer) const noexcept;

 private:
  BlockHeader* first_ = nullptr;
  std::size_t count_ = 0;
};

/// The ledger that the program's global allocation functions keep. It stays
/// empty in programs that keep the standard ones, such as the tests.
MemoryLedger& GlobalMemoryLedger() noexcept;

}  // namespace ncrewrite
