// A buffer that ends where memory stops being accessible, for tests of bad
// buffers: each build makes it with its own system's calls.
#pragma once

#include <cstddef>

// Memory of which only the last `valid` bytes before an inaccessible page can
// be read and written; the pointer is to the first of them. Kept for the
// life of the process.
char* BufferBeforeGuardPage(size_t valid);
