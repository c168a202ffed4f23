#include "failure/memory_ledger.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace ncrewrite {
namespace {

class MemoryLedgerTest : public ::testing::Test {
 protected:
  BlockHeader& Block(std::size_t size, BlockKind kind) {
    BlockHeader& block = headers_[used_++];
    block.size = size;
    block.kind = kind;
    ledger_.Add(block);
    return block;
  }

  std::string Report(std::size_t room = 4096) {
    std::string buffer(room, '\0');
    return std::string(ledger_.FormatLeakReport(std::span<char>(buffer.data(), buffer.size())));
  }

  MemoryLedger ledger_;
  std::array<BlockHeader, 16> headers_{};
  std::size_t used_ = 0;
};

TEST_F(MemoryLedgerTest, ListsSmallBlocksBySizeRangeAndKindThenLargerSizes) {
  Block(0, BlockKind::kObject);
  Block(16, BlockKind::kArray);
  Block(17, BlockKind::kObject);
  Block(32, BlockKind::kObject);
  Block(256, BlockKind::kArray);
  Block(257, BlockKind::kArray);
  Block(70000, BlockKind::kObject);
  EXPECT_EQ(ledger_.blocks_in_use(), 7u);
  EXPECT_EQ(Report(),
            "An unexpected memory leak has occurred. The unexpected small block leaks are:\r\n"
            "\r\n"
            "0 - 16 bytes: object x 1, array x 1\r\n"
            "17 - 32 bytes: object x 2\r\n"
            "241 - 256 bytes: array x 1\r\n"
            "\r\n"
            "The sizes of unexpected leaked medium and large blocks are: 70000, 257\r\n");
}

TEST_F(MemoryLedgerTest, RemovedBlocksLeaveTheReportWhereverTheyAreInTheList) {
  BlockHeader& first = Block(100, BlockKind::kObject);
  BlockHeader& middle = Block(300, BlockKind::kArray);
  Block(400, BlockKind::kArray);
  BlockHeader& last = Block(500, BlockKind::kArray);
  ledger_.Remove(middle);
  ledger_.Remove(last);   // the head of the list
  ledger_.Remove(first);  // its tail
  EXPECT_EQ(ledger_.blocks_in_use(), 1u);
  EXPECT_EQ(Report(),
            "An unexpected memory leak has occurred. "
            "The sizes of unexpected leaked medium and large blocks are: 400\r\n");
  Block(8, BlockKind::kObject);
  EXPECT_EQ(ledger_.blocks_in_use(), 2u);
}

TEST_F(MemoryLedgerTest, CutsAReportThatDoesNotFitAndMarksTheCut) {
  for (int i = 0; i < 16; ++i) Block(1000000 + static_cast<std::size_t>(i), BlockKind::kArray);
  const std::string report = Report(120);
  EXPECT_LE(report.size(), 120u);
  EXPECT_EQ(report.rfind("An unexpected memory leak has occurred. The sizes", 0), 0u);
  EXPECT_EQ(report.substr(report.size() - 3), "...");
}

}  // namespace
}  // namespace ncrewrite
