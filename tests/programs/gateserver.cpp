// A server library whose "DllUnregisterServer" waits at a gate, so that a
// test can hold the run inside its phases for as long as it needs: it
// appends "DllUnregisterServer <name>" to the test log, then waits until the
// file named by VT_GATE exists, deletes it and returns S_OK. After two
// minutes without the gate it returns all the same.
#include "testlog.h"

#include "winapi.h"

extern "C" HRESULT WINAPI DllUnregisterServer() {
    AppendTestLog(std::string("DllUnregisterServer ") + VT_LIBRARY_NAME);
    std::string gate = EnvironmentValue("VT_GATE");
    for (int tenth = 0; tenth < 1200 && !gate.empty(); ++tenth) {
        // The C library's calls: natively the library is not linked to
        // the layer.
        if (FILE* file = std::fopen(gate.c_str(), "rb")) {
            std::fclose(file);
            std::remove(gate.c_str());
            break;
        }
        PauseTenthOfSecond();
    }
    return S_OK;
}
