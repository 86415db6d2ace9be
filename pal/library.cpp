// Libraries for the native build: LoadLibraryA and LoadLibraryExA over
// dlopen, the default search that SetDefaultDllDirectories restricts,
// GetProcAddress by name, FreeLibrary. Native libraries are ELF shared objects named like
// their Windows twins.
#include "files.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <strings.h>

namespace {

// The pseudo modules of kernel32.dll and rstrtmgr.dll; never dereferenced.
const HMODULE kernel32Module = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C800000));
const HMODULE restartManagerModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7D500000));

// The Restart Manager is part of the system on the NT family only; a
// program looks it up by its bare name.
bool IsRestartManager(LPCSTR name) {
    if (strcasecmp(name, "rstrtmgr.dll") != 0 && strcasecmp(name, "rstrtmgr") != 0) {
        return false;
    }
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

FARPROC RestartManagerProc(LPCSTR name) {
    struct Entry {
        const char* name;
        void* proc;
    };
    static const Entry entries[] = {
        {"RmStartSession", reinterpret_cast<void*>(RmStartSession)},
        {"RmEndSession", reinterpret_cast<void*>(RmEndSession)},
        {"RmRegisterResources", reinterpret_cast<void*>(RmRegisterResources)},
        {"RmGetList", reinterpret_cast<void*>(RmGetList)},
        {"RmShutdown", reinterpret_cast<void*>(RmShutdown)},
    };
    for (const Entry& entry : entries) {
        if (std::strcmp(entry.name, name) == 0) {
            return reinterpret_cast<FARPROC>(entry.proc);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

const DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// Set by SetDefaultDllDirectories; 0 for the classic search, which looks in
// the current directory too.
DWORD defaultSearch = 0;

bool IsFullPath(const char* path) {
    return path[0] == '/' || path[0] == '\\' ||
           (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
            (path[2] == '\\' || path[2] == '/'));
}

// The image holds of the loaded libraries, by dlopen handle: a library file
// that another process has loaded cannot be deleted, only renamed (as on
// Windows). dlopen counts its loads; so does this table.
struct ImageHold {
    pal::UniqueFd fd;
    int loads = 0;
};

std::map<void*, ImageHold>& ImageHolds() {
    static auto* holds = new std::map<void*, ImageHold>(); // never destroyed
    return *holds;
}

void HoldLibraryImage(void* library, const std::string& native) {
    ImageHold& hold = ImageHolds()[library];
    if (hold.loads++ == 0 && native.find('/') != std::string::npos) {
        hold.fd.Reset(open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (hold.fd) {
            pal::HoldImage(hold.fd.get());
        }
    }
}

void ReleaseLibraryImage(void* library) {
    auto found = ImageHolds().find(library);
    if (found != ImageHolds().end() && --found->second.loads == 0) {
        ImageHolds().erase(found);
    }
}

// The program this process runs is held as an image from its start to its
// end, as Windows holds a running program's file.
struct ProgramImage {
    ProgramImage() : fd(open("/proc/self/exe", O_RDONLY | O_CLOEXEC)) {
        if (fd) {
            pal::HoldImage(fd.get());
        }
    }
    pal::UniqueFd fd;
};
[[maybe_unused]] ProgramImage* const programImage = new ProgramImage(); // never destroyed

// The search of the current directory for a bare name is the classic one;
// a search restricted to named folders never looks there.
HMODULE Load(LPCSTR name, bool searchCurrentDirectory) {
    std::string native = pal::NativePath(name);
    if (pal::HasSeparator(name) || searchCurrentDirectory) {
        if (!pal::IsRegularFile(native)) {
            if (pal::HasSeparator(name)) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            native = name;
        }
    } else {
        // The system's own folders: the loader's search path.
        native = name;
    }
    void* library = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        bool exists = pal::IsRegularFile(native);
        SetLastError(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HoldLibraryImage(library, native);
    return reinterpret_cast<HMODULE>(library);
}

} // namespace

HMODULE pal::Kernel32Module() {
    return kernel32Module;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (IsRestartManager(lpLibFileName)) {
        return restartManagerModule;
    }
    return Load(lpLibFileName, defaultSearch == 0);
}

// The folder of a library named by a full path is searched through the
// library's own run path ($ORIGIN), which is how an ELF library finds the
// libraries beside it: the flag is checked, as Windows checks it.
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0' || hFile != nullptr ||
        (dwFlags & ~kSearchFlags) != 0 ||
        ((dwFlags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && !IsFullPath(lpLibFileName))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (IsRestartManager(lpLibFileName)) {
        return restartManagerModule;
    }
    DWORD search = dwFlags != 0 ? dwFlags : defaultSearch;
    return Load(lpLibFileName, search == 0);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    if (DirectoryFlags == 0 || (DirectoryFlags & ~kSearchFlags) != 0 ||
        (DirectoryFlags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    defaultSearch = DirectoryFlags;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        SetLastError(hModule == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (hModule == kernel32Module) {
        // Only the calls that programs look up because older systems lack them.
        if (std::strcmp(lpProcName, "SetDefaultDllDirectories") == 0) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SetDefaultDllDirectories));
        }
        if (std::strcmp(lpProcName, "ReplaceFileA") == 0) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ReplaceFileA));
        }
        if (std::strcmp(lpProcName, "GetFinalPathNameByHandleA") == 0) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(GetFinalPathNameByHandleA));
        }
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (hModule == restartManagerModule) {
        return RestartManagerProc(lpProcName);
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
    if (hLibModule == kernel32Module || hLibModule == restartManagerModule) {
        return TRUE;
    }
    if (hLibModule == nullptr || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ReleaseLibraryImage(reinterpret_cast<void*>(hLibModule));
    return TRUE;
}
