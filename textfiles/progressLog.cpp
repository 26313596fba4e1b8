#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "textfiles/dialogPort.h"

namespace {

constexpr size_t kFormatLimit = 255;
constexpr size_t kLineLimit = 511;

// Copies at most kFormatLimit characters of `format`; a conversion left unfinished by the cut
// is dropped, so the shortened format never asks for a value that was not given.
void copyFormat(char (&out)[kFormatLimit + 1], const char* format) {
  size_t n = strnlen(format, kFormatLimit);
  std::memcpy(out, format, n);
  out[n] = '\0';
  if (n < std::strlen(format)) {
    char* lastPercent = std::strrchr(out, '%');
    if (lastPercent) *lastPercent = '\0';
  }
}

// The line `format` gives with `values`, its format cut at kFormatLimit and the line at
// kLineLimit.
void formatLine(char (&line)[kLineLimit + 1], const char* format, va_list values) {
  char shortFormat[kFormatLimit + 1];
  copyFormat(shortFormat, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(line, sizeof line, shortFormat, values);
#pragma GCC diagnostic pop
}

// Formats the line and hands it to `sink` of `dialog`.
int sendLine(DialogPort* dialog, int (*sink)(DialogPort*, const char*), const char* format,
             va_list values) {
  char line[kLineLimit + 1];
  formatLine(line, format, values);
  return sink(dialog, line);
}

}  // namespace

int addProgressLine(DialogPort* dialog, const char* format, ...) noexcept {
  if (!dialog || !dialog->addListLine) return 0;
  if (!format) {
    if (dialog->clearList) dialog->clearList(dialog);
    return 0;
  }
  va_list values;
  va_start(values, format);
  int result = sendLine(dialog, dialog->addListLine, format, values);
  va_end(values);
  return result;
}

int addDetailLine(DialogPort* dialog, const char* format, ...) noexcept {
  if (!dialog || !dialog->addDetailLine || !format) return 0;
  va_list values;
  va_start(values, format);
  int result = sendLine(dialog, dialog->addDetailLine, format, values);
  va_end(values);
  return result;
}
