// The line splitter on any bytes, in both modes, against the plain statement of the rules in
// tests/reference. Nothing leaks.
#include "fuzzSupport.h"
#include "tests/reference/lineSplitReference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  for (LineSplit split : {LineSplit::dropEmpty, LineSplit::keepEmpty}) {
    LineList* list = splitTextLines(text, size, split);
    FUZZ_CHECK(std::vector<std::string>(list->items, list->items + list->count) ==
               plainSplit(text, size, split));
    freeLineList(list);
  }
  return 0;
}
