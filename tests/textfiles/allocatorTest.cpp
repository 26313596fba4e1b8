#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {
std::vector<std::string> reports;
void recordReport(const char* message) {
  reports.emplace_back(message);
}

struct ReportCapture {
  ScratchFolder folder;
  ReportCapture() {
    reports.clear();
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter(recordReport);
  }
  ~ReportCapture() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};
}  // namespace

TEST(Allocator, ZeroFillsNewBlocksAndTheGrownPart) {
  auto* block = static_cast<unsigned char*>(gcalloc(16));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(block[i], 0);
  std::memset(block, 0xAB, 16);
  block = static_cast<unsigned char*>(gcrealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[15], 0xAB);
  for (int i = 16; i < 4096; ++i)
    ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(gblockSize(block), 4096u);
  gfree(block);
  void* tiny = gmalloc(0);
  EXPECT_EQ(gblockSize(tiny), 1u);
  gfree(tiny);
  gfree(nullptr);
}

TEST(Allocator, InjectedFailuresReportTheEntryName) {
  ReportCapture capture;
  long live = gliveBlocks();
  gfailAllocationAfter(1);
  EXPECT_EQ(gcalloc(8), nullptr);
  gfailAllocationAfter(1);
  EXPECT_EQ(gmalloc(8), nullptr);
  void* block = gcalloc(8);
  gfailAllocationAfter(1);
  EXPECT_EQ(gcrealloc(block, 64), nullptr);  // the old block stays valid
  gfree(block);
  gfailAllocationAfter(1);
  EXPECT_EQ(gcrealloc(nullptr, 64), nullptr);
  EXPECT_EQ(reports,
            (std::vector<std::string>{"gcalloc", "gmalloc", "gcrealloc", "gcalloc", "gcrealloc"}));
  EXPECT_EQ(readFileBytes(capture.folder.file("perr.txt")), "gcrealloc\r\n");
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(Allocator, ImpossibleSizesFailCleanly) {
  ReportCapture capture;
  EXPECT_EQ(gcalloc(~size_t{0}), nullptr);
  EXPECT_EQ(gmalloc(~size_t{0} / 2), nullptr);
  EXPECT_EQ(reports, (std::vector<std::string>{"gcalloc", "gmalloc"}));
}

TEST(Allocator, CarvedBlocksAreOrdinaryBlocks) {
  long live = gliveBlocks();
  BlockCarver carver{};
  carver.chunkSize = 256;  // small chunks, so that several are used
  std::vector<char*> blocks;
  for (int i = 0; i < 60; ++i) {
    size_t size = 1 + static_cast<size_t>(i % 13);
    auto* block = static_cast<char*>(gcarve(&carver, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
    std::memset(block, 'a' + i % 26, size);
    blocks.push_back(block);
    if (i == 30) {  // released while its chunk is still being cut
      gfree(blocks[29]);
      blocks[29] = nullptr;
    }
  }
  auto* own = static_cast<char*>(gcarve(&carver, 200));  // too large for a chunk's part
  ASSERT_NE(own, nullptr);
  gcarveDone(&carver);
  EXPECT_EQ(carver.chunk, nullptr);
  EXPECT_EQ(carver.chunkSize, 256u);
  EXPECT_EQ(gliveBlocks(), live + 60);
  for (int i = 0; i < 60; ++i) {
    if (!blocks[i]) continue;
    size_t size = 1 + static_cast<size_t>(i % 13);
    ASSERT_EQ(gblockSize(blocks[i]), size);
    for (size_t k = 0; k < size; ++k)
      ASSERT_EQ(blocks[i][k], 'a' + i % 26) << i;
  }
  // Growing a carved block moves it to a block of its own: contents kept, the rest zeroed.
  blocks[5] = static_cast<char*>(gcrealloc(blocks[5], 64));
  ASSERT_NE(blocks[5], nullptr);
  EXPECT_EQ(gblockSize(blocks[5]), 64u);
  EXPECT_EQ(std::string(blocks[5], 6), "ffffff");
  for (int k = 6; k < 64; ++k)
    ASSERT_EQ(blocks[5][k], 0);
  // Released in an order unlike the cutting; each chunk goes with its last block.
  for (int i = 0; i < 60; i += 2)
    gfree(blocks[i]);
  for (int i = 59; i > 0; i -= 2)
    gfree(blocks[i]);
  gfree(own);
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(Allocator, CarverReportsAFailedChunk) {
  ReportCapture capture;
  long live = gliveBlocks();
  BlockCarver carver{};
  gfailAllocationAfter(1);
  EXPECT_EQ(gcarve(&carver, 8), nullptr);
  void* block = gcarve(&carver, 8);
  EXPECT_NE(block, nullptr);
  gcarveDone(&carver);
  gfree(block);
  EXPECT_EQ(reports, (std::vector<std::string>{"gmalloc"}));
  EXPECT_EQ(gliveBlocks(), live);
}
