// Libraries for the native build: LoadLibraryA over dlopen, GetProcAddress
// by name, FreeLibrary. Native libraries are ELF shared objects named like
// their Windows twins.
#include "internal.h"

#include <dlfcn.h>

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string native = pal::NativePath(lpLibFileName);
    if (!pal::IsRegularFile(native)) {
        if (pal::HasSeparator(lpLibFileName)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        // A bare name that is not in the current directory: the loader's
        // own search path.
        native = lpLibFileName;
    }
    void* library = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        bool exists = pal::IsRegularFile(native);
        SetLastError(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(library);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        SetLastError(hModule == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // The program's own handle is no dlopen handle: look in the program.
    void* library = hModule == GetModuleHandleA(nullptr) ? dlopen(nullptr, RTLD_LAZY)
                                                         : reinterpret_cast<void*>(hModule);
    void* symbol = library ? dlsym(library, lpProcName) : nullptr;
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
