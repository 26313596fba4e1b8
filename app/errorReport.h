#pragma once
// The error report: for failures that leave the system unable to go on (in practice an
// allocator that cannot supply memory). The message goes to "perr.txt" beside the program
// (replacing what it held, one line, CR LF) and to the presenter the front end installed: the
// dialog shows a modal box titled "Morvane Error", the batch tool prints to standard error.

using ErrorPresenter = void (*)(const char* message);

// Installs the presenter; null restores the default (standard error).
void setErrorPresenter(ErrorPresenter presenter) noexcept;

// Formats a message (format cut at 255 characters, message at 255), writes it to "perr.txt"
// and hands it to the presenter. Safe to call from any thread; reports are serialised.
void reportError(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
