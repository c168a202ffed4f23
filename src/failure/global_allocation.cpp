// The program's global allocation functions. They keep every block in the
// memory ledger for the leak report, and turn running out of memory into
// the out-of-memory failure (or the fallback report, when it does not exist
// yet or any more). The nothrow forms return null as the standard says.
//
// Linked into the programs as an object file, never from a static library:
// nothing refers to it by name, so a linker would leave a library member out.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

#include "failure/lifecycle.h"
#include "failure/memory_ledger.h"

namespace {

using ncrewrite::BlockHeader;
using ncrewrite::BlockKind;

constexpr std::size_t kHeaderSize = sizeof(BlockHeader);
constexpr std::size_t kMallocAlignment = alignof(std::max_align_t);

/// A block of `size` bytes aligned to `alignment`, with its header in
/// front; null when memory has run out. Every block comes from malloc, so
/// that Release frees them all alike: an over-aligned one is placed inside a
/// larger block (the C library's aligned allocation is not on every platform,
/// and on some needs a free function of its own).
void* Allocate(std::size_t size, std::size_t alignment, BlockKind kind) noexcept {
  if (alignment < kMallocAlignment) alignment = kMallocAlignment;
  // The header, and the most that aligning can move the block on from the
  // end of the header in memory that malloc has aligned already.
  const std::size_t front_room = kHeaderSize + (alignment - kMallocAlignment);
  if (front_room > std::numeric_limits<std::uint32_t>::max() ||
      size > std::numeric_limits<std::size_t>::max() - front_room) {
    return nullptr;
  }
  void* base = std::malloc(front_room + size);
  if (base == nullptr) return nullptr;
  const auto header_end = reinterpret_cast<std::uintptr_t>(base) + kHeaderSize;
  const std::uintptr_t misalignment = header_end & (alignment - 1);
  const std::size_t offset = kHeaderSize + (misalignment == 0 ? 0 : alignment - misalignment);
  char* block = static_cast<char*>(base) + offset;
  auto* header = reinterpret_cast<BlockHeader*>(block) - 1;
  header->size = size;
  header->kind = kind;
  header->base_offset = static_cast<std::uint32_t>(offset);
  ncrewrite::GlobalMemoryLedger().Add(*header);
  return block;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  auto* header = static_cast<BlockHeader*>(block) - 1;
  ncrewrite::GlobalMemoryLedger().Remove(*header);
  std::free(static_cast<char*>(block) - header->base_offset);
}

void* AllocateOrRaise(std::size_t size, std::size_t alignment, BlockKind kind,
                      void* caller) {
  void* block = Allocate(size, alignment, kind);
  if (block == nullptr) {
    ncrewrite::OnMemoryExhausted(reinterpret_cast<std::uintptr_t>(caller));
  }
  return block;
}

std::size_t Alignment(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

}  // namespace

// The code address of an out-of-memory failure is the code that asked for
// memory: the return address of the operator new that it called.
void* operator new(std::size_t size) {
  return AllocateOrRaise(size, kMallocAlignment, BlockKind::kObject, __builtin_return_address(0));
}
void* operator new[](std::size_t size) {
  return AllocateOrRaise(size, kMallocAlignment, BlockKind::kArray, __builtin_return_address(0));
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateOrRaise(size, Alignment(alignment), BlockKind::kObject,
                         __builtin_return_address(0));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateOrRaise(size, Alignment(alignment), BlockKind::kArray,
                         __builtin_return_address(0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kMallocAlignment, BlockKind::kObject);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kMallocAlignment, BlockKind::kArray);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Allocate(size, Alignment(alignment), BlockKind::kObject);
}
void* operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return Allocate(size, Alignment(alignment), BlockKind::kArray);
}

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(block);
}
