#include "app/errorReport.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/programPath.h"
#include "textfiles/allocator.h"

namespace {

constexpr size_t kMessageLimit = 255;

void printToStandardError(const char* message) {
  std::fprintf(stderr, "Morvane Error: %s\n", message);
}

ErrorPresenter presenter = printToStandardError;
std::mutex reportMutex;

// Writes the message as the whole of "perr.txt": a temporary file renamed over the old one, so
// the file holds either the previous report or this one. Failures are passed over silently.
void writeErrorFile(const char* message) {
  const char* path = programPath("perr.txt");
  char temporary[4200];
  if (std::snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary) return;
  std::FILE* file = std::fopen(temporary, "wb");
  if (!file) return;
  bool written = std::fprintf(file, "%s\r\n", message) >= 0;
  written = (std::fclose(file) == 0) && written;
  if (!written || std::rename(temporary, path) != 0) std::remove(temporary);
}

void reportAllocationFailure(const char* entryName) {
  reportError("%s", entryName);
}

}  // namespace

void reportAllocationFailures() noexcept {
  setAllocationFailureHandler(reportAllocationFailure);
}

void setErrorPresenter(ErrorPresenter newPresenter) noexcept {
  reportAllocationFailures();
  std::lock_guard<std::mutex> lock(reportMutex);
  presenter = newPresenter ? newPresenter : printToStandardError;
}

void reportError(const char* format, ...) noexcept {
  if (!format) return;
  char shortFormat[kMessageLimit + 1];
  size_t n = strnlen(format, kMessageLimit);
  std::memcpy(shortFormat, format, n);
  shortFormat[n] = '\0';
  char message[kMessageLimit + 1];
  va_list values;
  va_start(values, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(message, sizeof message, shortFormat, values);
#pragma GCC diagnostic pop
  va_end(values);
  std::lock_guard<std::mutex> lock(reportMutex);
  writeErrorFile(message);
  presenter(message);
}
