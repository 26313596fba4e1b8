#include "fuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceProfile.h"

namespace {

std::string scratch;

void silent(const char*) {}

void removeScratch() {
  std::error_code ignored;
  if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

void fuzzSetUp() {
  if (!scratch.empty()) return;
  const char* base = std::getenv("MORVANE_FUZZ_TMP");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvane-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) fuzzFail("mkdtemp of the scratch folder", __FILE__, __LINE__);
  scratch = pattern;
  std::atexit(removeScratch);
  setProgramDirectoryTo(scratch.c_str());
  setErrorPresenter(silent);
  setProfileThreadCount(1);
}

const std::string& fuzzFolder() {
  return scratch;
}

void fuzzFail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

uint64_t fuzzHash(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i)
    h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

FuzzDialog::FuzzDialog() {
  port = DialogPort{};
  port.context = this;
  port.addListLine = [](DialogPort* self, const char* line) {
    auto& lines = static_cast<FuzzDialog*>(self->context)->lines;
    lines.emplace_back(line);
    return static_cast<int>(lines.size()) - 1;
  };
  port.clearList = [](DialogPort* self) { static_cast<FuzzDialog*>(self->context)->lines.clear(); };
}

void writeWholeFile(const std::string& path, const char* bytes, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  while (size > 0) {
    ssize_t done = write(fd, bytes, size);
    FUZZ_CHECK(done > 0);
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  FUZZ_CHECK(close(fd) == 0);
}
