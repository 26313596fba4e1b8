#pragma once
// The error report: for failures that leave the system unable to go on (in practice an
// allocator that cannot supply memory). The message goes to "perr.txt" beside the program
// (replacing what it held, one line, CR LF) and to the presenter the front end installed: the
// dialog shows a modal box titled "Morvane Error", the batch tool prints to standard error.

using ErrorPresenter = void (*)(const char* message);

// Routes the allocator's failures (textfiles/allocator.h) into reportError, so that the entry
// that failed is named in "perr.txt" and by the presenter. Each front end calls it at start;
// setErrorPresenter does too.
void reportAllocationFailures() noexcept;

// Installs the presenter (null restores the default, standard error) and routes the
// allocator's failures here.
void setErrorPresenter(ErrorPresenter presenter) noexcept;

// Formats a message (format cut at 255 characters, message at 255), writes it to "perr.txt"
// and hands it to the presenter. Safe to call from any thread; reports are serialised.
void reportError(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
