#pragma once
// Inside the line files, open to their tests.

// Called with the path between the check that it names a regular file and its opening, when
// set; null (the default) everywhere but in tests, which replace the path at that moment to
// reach the check made on the opened file.
extern void (*beforeOpeningCheckedFile)(const char* path);
