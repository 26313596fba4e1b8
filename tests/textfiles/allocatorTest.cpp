#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "textfiles/allocator.h"
#include "textfiles/reportCapture.h"

TEST(Allocator, ZeroFillsNewBlocksAndTheGrownPart) {
  void* dirty = gmalloc(4096);  // leaves used memory behind for the blocks below to reuse
  std::memset(dirty, 0xCD, 4096);
  gfree(dirty);
  auto* block = static_cast<char*>(gcalloc(16));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 16), std::string(16, '\0'));
  std::memset(block, 0xAB, 16);
  block = static_cast<char*>(gcrealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 4096), std::string(16, '\xAB') + std::string(4080, '\0'));
  EXPECT_EQ(gblockSize(block), 4096u);
  gfree(block);
  void* tiny = gmalloc(0);
  EXPECT_EQ(gblockSize(tiny), 1u);
  gfree(tiny);
  gfree(nullptr);
}

// Injected failures, sizes no system can serve and a carver's failed chunk: each entry reports
// its own name (the latest one in "perr.txt"), returns null and keeps nothing.
TEST(Allocator, FailedAllocationsReportTheEntryName) {
  ReportCapture capture;
  long live = gliveBlocks();
  gfailAllocationAfter(1);
  EXPECT_EQ(gcalloc(8), nullptr);
  gfailAllocationAfter(1);
  EXPECT_EQ(gmalloc(8), nullptr);
  void* block = gcalloc(8);
  gfailAllocationAfter(1);
  EXPECT_EQ(gcrealloc(block, 64), nullptr);  // the old block stays valid and owned
  gfree(block);
  gfailAllocationAfter(1);
  EXPECT_EQ(gcrealloc(nullptr, 64), nullptr);
  EXPECT_EQ(gcalloc(~size_t{0}), nullptr);
  EXPECT_EQ(gmalloc(~size_t{0} / 2), nullptr);
  BlockCarver carver{};
  gfailAllocationAfter(1);
  EXPECT_EQ(gcarve(&carver, 8), nullptr);
  block = gcarve(&carver, 8);  // the next chunk is had again
  EXPECT_NE(block, nullptr);
  gcarveDone(&carver);
  gfree(block);
  EXPECT_EQ(reports, (Lines{"gcalloc", "gmalloc", "gcrealloc", "gcalloc", "gcrealloc", "gcalloc",
                            "gmalloc", "gmalloc"}));
  EXPECT_EQ(readFileBytes(capture.folder.file("perr.txt")), "gmalloc\r\n");
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(Allocator, CarvedBlocksAreOrdinaryBlocks) {
  long live = gliveBlocks();
  BlockCarver carver{};
  carver.chunkSize = 256;  // small chunks, so that several are used
  auto sizeOf = [](int i) { return 1 + static_cast<size_t>(i % 13); };
  std::vector<char*> blocks;
  for (int i = 0; i < 60; ++i) {
    blocks.push_back(static_cast<char*>(gcarve(&carver, sizeOf(i))));
    ASSERT_NE(blocks[i], nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[i]) % 8, 0u);
    std::memset(blocks[i], 'a' + i % 26, sizeOf(i));
  }
  gfree(blocks.back());  // released while its chunk is still being cut
  blocks.pop_back();
  gcarveDone(&carver);
  EXPECT_EQ(carver.chunk, nullptr);
  EXPECT_EQ(carver.chunkSize, 256u);
  EXPECT_EQ(gliveBlocks(), live + 59);
  for (int i = 0; i < 59; ++i) {
    ASSERT_EQ(gblockSize(blocks[i]), sizeOf(i));
    ASSERT_EQ(std::string(blocks[i], sizeOf(i)), std::string(sizeOf(i), 'a' + i % 26)) << i;
  }
  // Growing a carved block moves it to a block of its own: contents kept, the rest zeroed.
  blocks[5] = static_cast<char*>(gcrealloc(blocks[5], 64));
  ASSERT_NE(blocks[5], nullptr);
  EXPECT_EQ(std::string(blocks[5], 64), std::string(6, 'f') + std::string(58, '\0'));
  // Released in an order unlike the cutting; each chunk goes with its last block.
  for (int i = 0; i < 59; i += 2)
    gfree(blocks[i]);
  for (int i = 57; i > 0; i -= 2)
    gfree(blocks[i]);
  EXPECT_EQ(gliveBlocks(), live);
}
