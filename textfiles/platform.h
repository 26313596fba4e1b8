#pragma once
// What the operating system can tell about this process's surroundings. Every system query
// the core makes lives here, so a port replaces this file only.
#include <cstddef>
#include <cstdint>

// Bytes this process could still be given: the least of the memory the machine has available,
// what the process's control group still allows and what its address-space limit leaves.
// UINT64_MAX when nothing is known.
uint64_t availableMemoryBytes() noexcept;

// Resident memory of this process now, and its peak so far, in bytes (0 when unknown).
uint64_t residentBytes() noexcept;
uint64_t peakResidentBytes() noexcept;

// Hands memory the process has freed back to the system (the C library keeps freed blocks for
// reuse otherwise), so that an idle process holds only what it still uses.
void returnFreedMemory() noexcept;
// From now on, freed memory at the top of every thread's heap goes back to the system once
// there is more than 1 MiB of it. The C library otherwise keeps, per heap, up to twice the
// largest block freed so far; returnFreedMemory cannot reach the heaps of other threads. For
// a long-lived program whose runs go on a thread of their own.
void returnFreedMemoryPromptly() noexcept;

// A background thread making the pages of a block present a little ahead of the thread that
// fills it, so that the first writes to a large fresh array do not each stop for a page fault.
struct PrefaultJob;
// Starts making block[0, bytes) present on another thread (contents are not changed), never
// more than `ahead` bytes beyond what prefaultFilled last said is filled. Null when it was not
// started (a small block, no thread to be had): then nothing happens.
PrefaultJob* startPrefault(void* block, size_t bytes, size_t ahead) noexcept;
// Tells the job that block[0, filled) is written: it may go on up to filled + ahead.
void prefaultFilled(PrefaultJob* job, size_t filled) noexcept;
// Stops the job where it is, waits for its thread and releases it; null does nothing.
void endPrefault(PrefaultJob* job) noexcept;

// Why `path` cannot be read as a regular file: 0 when it can; otherwise 1 and `reason` (of
// `size` bytes, NUL-ended) holds the system's error text or "it is a folder" / "it is not a
// regular file". Opening never waits (a FIFO is not read).
int fileReadProblem(const char* path, char* reason, size_t size) noexcept;

// Why `path` could not be written, for a message after a failed save: its folder is missing,
// not a folder or not writable, or `path` is a folder or not a regular file, each followed by
// the system's text in brackets; else the system's text of `errorNumber` (the errno the
// failed write left; 0 when unknown), else "it could not be written". Fills `reason`.
void fileWriteProblem(const char* path, int errorNumber, char* reason, size_t size) noexcept;

// What identifies a file's contents cheaply: device, inode, size and modification time. Zero
// when the file cannot be looked at.
struct FileStamp {
  uint64_t device;
  uint64_t inode;
  int64_t size;
  int64_t modifiedNanoseconds;
};
FileStamp fileStamp(const char* path) noexcept;

// A scratch file: made in the system's folder for temporary files ($TMPDIR, else /tmp), seen
// by no other program and gone once closed or once the process ends. -1 when none can be made.
int openScratchFile() noexcept;
// Bytes the file system holding scratch file `file` can still take (0 when unknown).
uint64_t scratchRoom(int file) noexcept;
// Writes or reads exactly `bytes` at `offset` of scratch file `file`; false on any failure.
// Safe to call from several threads at once for different ranges.
bool writeScratch(int file, const void* data, size_t bytes, uint64_t offset) noexcept;
bool readScratch(int file, void* data, size_t bytes, uint64_t offset) noexcept;
void closeScratchFile(int file) noexcept;

// Whether standard error is a terminal, and that terminal's width in columns (80 when unknown).
bool standardErrorIsTerminal() noexcept;
int standardErrorColumns() noexcept;
