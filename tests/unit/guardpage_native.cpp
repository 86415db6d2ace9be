// The guard page natively: an anonymous mapping whose second page is
// PROT_NONE.
#include "guardpage.h"

#include <sys/mman.h>
#include <unistd.h>

char* BufferBeforeGuardPage(size_t valid) {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* memory =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return nullptr;
    }
    char* base = static_cast<char*>(memory);
    mprotect(base + page, page, PROT_NONE);
    return base + page - valid;
}
