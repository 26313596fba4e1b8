#include "textfiles/twoThreads.h"

#include <thread>

void runInTwoRanges(RangeWork work, int split, int count, void* context) noexcept {
  std::thread helper;
  if (split < count) {
    try {
      helper = std::thread(work, split, count, context);
    } catch (...) {  // no thread to be had: the second range runs here afterwards
    }
  }
  if (split > 0) work(0, split, context);
  if (helper.joinable()) {
    helper.join();
  } else if (split < count) {
    work(split, count, context);
  }
}
