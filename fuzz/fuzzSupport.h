#pragma once
// What every fuzz target shares: a private scratch folder (perr.txt and the files of a run go
// there), a silent error presenter, checks that abort with a message, and a hash of the input
// that targets use to pick a variant (rotation, an allocation to fail) without taking bytes
// from the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "textfiles/dialogPort.h"

// Once per process: scratch folder, program directory, silent error presenter, one profile
// thread. Safe to call from every input.
void fuzzSetUp();
// The scratch folder, ending without '/'. Removed when the process exits normally.
const std::string& fuzzFolder();

// Aborts with the failed condition: libFuzzer keeps the input as a crash.
[[noreturn]] void fuzzFail(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzzFail(#condition, __FILE__, __LINE__))

// FNV-1a of the input.
uint64_t fuzzHash(const uint8_t* data, size_t size);

// A dialog that keeps the progress lines.
struct FuzzDialog {
  FuzzDialog();
  DialogPort port;
  std::vector<std::string> lines;
};

// Writes `size` bytes to `path`, replacing it; aborts when that fails.
void writeWholeFile(const std::string& path, const char* bytes, size_t size);
