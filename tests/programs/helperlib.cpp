// The library that vt_depserver.dll needs; it is found only in the server's
// own folder.
#include "testlog.h"

extern "C" void VantrelHelperRecord() {
    AppendTestLog(std::string("helper ") + VT_LIBRARY_NAME);
}
