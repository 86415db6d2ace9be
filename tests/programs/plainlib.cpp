// An ordinary library without "DllUnregisterServer": it appends "load <name>"
// and "unload <name>" to the test log, like the server libraries.
#include "testlog.h"

namespace {
struct LoadRecorder {
    LoadRecorder() { AppendTestLog(std::string("load ") + VT_LIBRARY_NAME); }
    ~LoadRecorder() { AppendTestLog(std::string("unload ") + VT_LIBRARY_NAME); }
} recorder;
} // namespace

extern "C" int VantrelPlainFunction() {
    return 42;
}
