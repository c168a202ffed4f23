// The program's allocation functions, in a test program of their own that
// links them as the program does (the other tests keep the standard ones).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "failure/memory_ledger.h"

namespace ncrewrite {
namespace {

bool AlignedTo(const void* block, std::size_t alignment) {
  return reinterpret_cast<std::uintptr_t>(block) % alignment == 0;
}

TEST(GlobalAllocation, EveryAlignmentIsKeptAndEveryByteOfTheBlockIsUsable) {
  const MemoryLedger& ledger = GlobalMemoryLedger();
  for (std::size_t alignment = 1; alignment <= 64 * 1024; alignment *= 2) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100}, alignment + 3}) {
      SCOPED_TRACE(::testing::Message() << "alignment " << alignment << ", size " << size);
      const std::size_t before = ledger.blocks_in_use();
      void* const block = ::operator new(size, std::align_val_t{alignment});
      EXPECT_TRUE(AlignedTo(block, alignment));
      EXPECT_TRUE(AlignedTo(block, alignof(std::max_align_t)));
      EXPECT_EQ(ledger.blocks_in_use(), before + 1);
      // Writing all of it: the sanitizers see a write beyond the block that
      // the C library gave.
      std::memset(block, 0xA5, size);
      ::operator delete(block, std::align_val_t{alignment});
      EXPECT_EQ(ledger.blocks_in_use(), before);
    }
  }
}

TEST(GlobalAllocation, ArraysOfOverAlignedObjectsAreAligned) {
  struct alignas(256) Aligned {
    char bytes[256];
  };
  Aligned* const objects = new Aligned[3];
  EXPECT_TRUE(AlignedTo(objects, 256));
  delete[] objects;
}

TEST(GlobalAllocation, WhatNoBlockCanHoldIsRefused) {
  const std::size_t before = GlobalMemoryLedger().blocks_in_use();
  EXPECT_EQ(::operator new(16, std::align_val_t{std::size_t{1} << 33}, std::nothrow), nullptr);
  // A size that the header would wrap around to a small block.
  volatile std::size_t huge = SIZE_MAX - 8;
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
  EXPECT_EQ(GlobalMemoryLedger().blocks_in_use(), before);
}

}  // namespace
}  // namespace ncrewrite
