// Server libraries whose "DllUnregisterServer" faults, one way per library
// (VT_FAULT): 1 writes through a null pointer, 2 executes an illegal
// instruction, 3 divides an integer by zero, 4 recurses until the stack
// overflows, 5 throws an int (no std::exception); 6 never returns. Each
// first appends "DllUnregisterServer <name>" to the test log, so a test can
// tell that the call was made.
#include "testlog.h"

#include "winapi.h"

namespace {

// Volatile, so the compiler can neither see the null nor the zero, nor turn
// the recursion into a loop.
int* volatile nullTarget = nullptr;
volatile int zero = 0;
volatile int hundred = 100;
volatile int depthLimit = -1;

int Recurse(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth == depthLimit) {
        return frame[0];
    }
    return Recurse(depth + 1) + frame[0];
}

} // namespace

extern "C" HRESULT WINAPI DllUnregisterServer() {
    AppendTestLog(std::string("DllUnregisterServer ") + VT_LIBRARY_NAME);
    switch (VT_FAULT) {
    case 1:
        *nullTarget = 1;
        break;
    case 2:
        __builtin_trap();
    case 3:
        return hundred / zero;
    case 4:
        return Recurse(0);
    case 5:
        throw 42;
    case 6:
        for (;;) {
            PauseOneSecond();
        }
    default:
        break;
    }
    return S_OK;
}
