// The guard page on Windows: two committed pages, the second PAGE_NOACCESS.
#include "guardpage.h"

#include "winapi.h"

char* BufferBeforeGuardPage(size_t valid) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    auto* base = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr) {
        return nullptr;
    }
    DWORD old = 0;
    VirtualProtect(base + page, page, PAGE_NOACCESS, &old);
    return base + page - valid;
}
