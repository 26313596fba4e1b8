// The line splitter on any bytes, in both modes, against the plain statement of the rules in
// tests/reference; with one allocation failing the list is the same or refused whole. Nothing
// leaks.
#include "fuzzSupport.h"
#include "tests/reference/lineSplitReference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const char* text = reinterpret_cast<const char*>(data);
  const long before = gliveBlocks(), failing = 1 + fuzzHash(data, size) % 4;
  for (LineSplit split : {LineSplit::dropEmpty, LineSplit::keepEmpty}) {
    const std::vector<std::string> expected = plainSplit(text, size, split);
    for (long fail : {0L, failing}) {
      gfailAllocationAfter(fail);
      LineList* list = splitTextLines(text, size, split);
      gfailAllocationAfter(0);
      FUZZ_CHECK(list ? !list->path && static_cast<size_t>(list->count) == expected.size() : fail);
      for (int32_t i = 0; list && i < list->count; ++i)
        FUZZ_CHECK(expected[i] == list->items[i] &&
                   gblockSize(list->items[i]) > expected[i].size());
      freeLineList(list);
      FUZZ_CHECK(gliveBlocks() == before);
    }
  }
  return 0;
}
