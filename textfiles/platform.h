#pragma once
// What the operating system can tell about this process's surroundings. Every system query
// the core makes lives here, so a port replaces this file only.
#include <cstdint>

// Bytes this process could still be given: the least of the memory the machine has available,
// what the process's control group still allows and what its address-space limit leaves.
// UINT64_MAX when nothing is known.
uint64_t availableMemoryBytes() noexcept;
