#pragma once
// What every fuzz target shares: a private scratch folder (perr.txt and a run's files go
// there), silent error reports, checks that abort, and a hash of the input that picks a variant
// (rotation, an allocation to fail) without taking bytes from the text.
#include <string>
#include <string_view>
#include <vector>

#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

// Once per process (safe at every input): scratch folder, program directory, silent error
// presenter, one profile thread. Returns the folder, without a trailing '/'.
const std::string& fuzzSetUp();

// A failed check traps: libFuzzer keeps the input as a crash, with the stack of the check.
#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : __builtin_trap())

inline uint64_t fuzzHash(const uint8_t* data, size_t size) {
  return std::hash<std::string_view>{}({reinterpret_cast<const char*>(data), size});
}
