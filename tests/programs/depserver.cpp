// A server library that needs a library of its own folder (vt_helper.dll):
// its "DllUnregisterServer" appends "DllUnregisterServer <name>" and then
// the helper's line to the test log.
#include "testlog.h"

#include "winapi.h"

extern "C" void VantrelHelperRecord();

extern "C" HRESULT WINAPI DllUnregisterServer() {
    AppendTestLog(std::string("DllUnregisterServer ") + VT_LIBRARY_NAME);
    VantrelHelperRecord();
    return S_OK;
}
