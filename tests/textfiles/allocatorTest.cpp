#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {
std::vector<std::string> reports;
void recordReport(const char* message) { reports.emplace_back(message); }

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
  for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0);
  std::memset(block, 0xAB, 16);
  block = static_cast<unsigned char*>(gcrealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[15], 0xAB);
  for (int i = 16; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
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
  EXPECT_EQ(reports, (std::vector<std::string>{"gcalloc", "gmalloc", "gcrealloc", "gcalloc", "gcrealloc"}));
  EXPECT_EQ(readFileBytes(capture.folder.file("perr.txt")), "gcrealloc\r\n");
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(Allocator, ImpossibleSizesFailCleanly) {
  ReportCapture capture;
  EXPECT_EQ(gcalloc(~size_t{0}), nullptr);
  EXPECT_EQ(gmalloc(~size_t{0} / 2), nullptr);
  EXPECT_EQ(reports, (std::vector<std::string>{"gcalloc", "gmalloc"}));
}
