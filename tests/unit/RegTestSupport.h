// What the registry tests need beyond the Win32 calls. Each build links its
// own implementation (regtest_native.cpp over the native store,
// regtest_win32.cpp under Wine), chosen in registry.cmake.
#pragma once

#include "winapi.h"

#include <string>

// True when the registry is the native build's own store.
bool RegistryIsNativeStore();

// Marks an existing key protected against deletion and writes, or releases
// it. False where the platform offers no such key (under Wine).
bool ProtectKeyForTest(HKEY root, const std::string& subKey, bool protect);

// Whether a value has reached the store's file, looked up through a second
// connection, as another process would see it. Native store only.
bool ValueCommittedInStore(const std::string& subKeyOfCurrentUser, const std::string& valueName);

// Adds a subkey through a second connection to the store, as another
// process would, without this process's calls knowing. Native store only.
bool AddSubKeyFromOutside(const std::string& subKeyOfCurrentUser, const std::string& name);

// Runs `action` inside one store transaction and rolls it back afterwards,
// or commits it when `commit` is true. Native store only.
void InRegistryBatch(bool commit, void (*action)(void*), void* context);
