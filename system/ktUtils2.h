// Unregistering an OLE server library.
#pragma once

#include <string>

// Loads the library, calls its "DllUnregisterServer" and releases it; true
// when the export was found and called, whatever it reported. False (a
// library that does not load or lacks the export) changes nothing.
bool UnregisterServer(const std::string& libraryPath);
