// The .reg import on any text: it applies all or nothing, and what it
// applied reads back.
#include "FuzzSupport.h"
#include "regtext.h"

#include <sstream>

namespace {

// A value the inputs never touch unless they name its key: a failed import
// must leave it in place.
const char kSentinelKey[] = "Software\\FuzzSentinel";

DWORD ReadSentinel() {
    DWORD value = 0;
    DWORD size = sizeof value;
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kSentinelKey, &key) != ERROR_SUCCESS) {
        return 0;
    }
    if (RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS) {
        value = 0;
    }
    RegCloseKey(key);
    return value;
}

void WriteSentinel(DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, kSentinelKey, &key) != ERROR_SUCCESS ||
        RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value) != ERROR_SUCCESS) {
        FuzzFail("cannot write the sentinel value");
    }
    RegCloseKey(key);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzMachineFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DWORD generation = 0;
    WriteSentinel(++generation);
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    std::ostringstream errors;
    const int rc = regtext::ImportRegText(in, "fuzz.reg", errors);
    FUZZ_CHECK(rc == 0 || rc == 1, "the exit code is 0 or 1");
    FUZZ_CHECK((rc == 0) == errors.str().empty(), "an error is reported exactly on failure");
    if (rc != 0) {
        FUZZ_CHECK(ReadSentinel() == generation, "a failed import changes nothing");
    }
    return 0;
}
