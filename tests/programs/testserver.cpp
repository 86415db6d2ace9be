// An in-process server library for the unregistration tests. It appends to
// the test log:
//   "load <name>"                when it is loaded,
//   "DllUnregisterServer <name>" for each call of its export,
//   "unload <name>"              when it is released,
// where <name> is the library's file name (VT_LIBRARY_NAME). The export
// returns VT_STATUS (S_OK, or E_FAIL for the failing variant).
#include "testlog.h"

#include "winapi.h"

namespace {
struct LoadRecorder {
    LoadRecorder() { AppendTestLog(std::string("load ") + VT_LIBRARY_NAME); }
    ~LoadRecorder() { AppendTestLog(std::string("unload ") + VT_LIBRARY_NAME); }
} recorder;
} // namespace

extern "C" HRESULT WINAPI DllUnregisterServer() {
    AppendTestLog(std::string("DllUnregisterServer ") + VT_LIBRARY_NAME);
    return VT_STATUS;
}
