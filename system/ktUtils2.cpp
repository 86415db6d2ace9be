#include "ktUtils2.h"

#include "ktHandle.h"

namespace {
typedef HRESULT(WINAPI* TDllUnregisterServer)();
}

bool UnregisterServer(const std::string& libraryPath) {
    // The library is released on every way out, an error raised inside the
    // server's code included.
    TScopedLibrary library(LoadLibraryA(libraryPath.c_str()));
    if (!library) {
        return false;
    }
    FARPROC proc = GetProcAddress(library.Get(), "DllUnregisterServer");
    if (proc == nullptr) {
        return false;
    }
    // The status is not examined: a server that reports failure has still
    // been asked.
    reinterpret_cast<TDllUnregisterServer>(reinterpret_cast<void*>(proc))();
    return true;
}
