#pragma once
// What every fuzz target shares: a private scratch folder (perr.txt and a run's files go
// there), silent error reports, checks that abort, and a hash of the input that picks a variant
// (rotation, an allocation to fail) without taking bytes from the text. Leaks are found by the
// sanitizer's leak check (scripts/fuzz turns it on).
#include <filesystem>
#include <string_view>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceProfile.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

// A failed check traps: libFuzzer keeps the input as a crash, with the stack of the check.
#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : __builtin_trap())

// Once per process (safe at every input): scratch folder (removed at exit), program directory,
// silent error presenter, one profile thread. Returns the folder, without a trailing '/'.
inline const std::string& fuzzSetUp() {
  static std::string scratch;
  if (!scratch.empty()) return scratch;
  scratch = (std::filesystem::temp_directory_path() / "morvane-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(scratch.data()) != nullptr);
  std::atexit([] { std::filesystem::remove_all(scratch); });
  setProgramDirectoryTo(scratch.c_str()), setErrorPresenter([](const char*) {});
  return setProfileThreadCount(1), scratch;
}

inline uint64_t fuzzHash(const uint8_t* data, size_t size) {
  return std::hash<std::string_view>{}({reinterpret_cast<const char*>(data), size});
}
