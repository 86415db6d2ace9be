#pragma once

#include <string>

// Loads the library, calls its "DllUnregisterServer" and releases it; true
// when the export was found and called.
bool UnregisterServer(const std::string& libraryPath);
