// One small move-only owner for every handle, key, library, find handle and
// hook the program acquires: the traits give the invalid value and the close
// function, so each resource is released on every way out of its scope.
#pragma once

#include "winapi.h"

#include <cstdint>
#include <utility>

template <typename Traits> class TScoped {
  public:
    using Handle = typename Traits::Handle;

    TScoped() = default;
    explicit TScoped(Handle handle) : handle_(handle) {}
    ~TScoped() { Close(); }
    TScoped(const TScoped&) = delete;
    TScoped& operator=(const TScoped&) = delete;
    TScoped(TScoped&& other) noexcept : handle_(other.Release()) {}
    TScoped& operator=(TScoped&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    bool IsValid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return IsValid(); }
    // Address for out-parameters (RegOpenKeyA and the like); closes first.
    Handle* Receive() {
        Close();
        return &handle_;
    }
    Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) {
        Close();
        handle_ = handle;
    }
    void Close() {
        if (Traits::IsValid(handle_)) {
            Traits::Close(handle_);
        }
        handle_ = Traits::Invalid();
    }

  private:
    Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
using TScopedHandle = TScoped<FileHandleTraits>;

// A file handle as the INI engine's line-file functions take it: the
// platform's handle as a signed integer of its width (32 bits on 32-bit
// Windows, 64 on 64-bit, so no handle is ever cut); 0 for none, -1 (the
// invalid handle) after a failed open.
using TFileHandle = intptr_t;
// The platform's handle that a TFileHandle holds.
inline HANDLE ToHandle(TFileHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
// Owns a TFileHandle: only a positive one is open. An owner given -1 keeps
// it (the failed open stays visible) until it is closed or reset.
struct FileNumberTraits {
    using Handle = TFileHandle;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h > 0; }
    static void Close(Handle h) { CloseHandle(ToHandle(h)); }
};
using TScopedFileHandle = TScoped<FileNumberTraits>;

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { FindClose(h); }
};
using TScopedFind = TScoped<FindHandleTraits>;

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
using TScopedRegKey = TScoped<RegKeyTraits>;

struct LibraryTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};
using TScopedLibrary = TScoped<LibraryTraits>;

struct HookTraits {
    using Handle = HHOOK;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { UnhookWindowsHookEx(h); }
};
using TScopedHook = TScoped<HookTraits>;

struct WindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DestroyWindow(h); }
};
using TScopedWindow = TScoped<WindowTraits>;
