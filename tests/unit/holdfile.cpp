// Holds a file open without sharing from a second process, so that tests
// can meet a file that is in use elsewhere:
//   holdfile FILE READY RELEASE
// opens FILE for reading and writing with share mode 0, creates READY, and
// keeps the file open until RELEASE exists (at most a minute).
// Exit code 0 after a release, 2 when FILE cannot be opened, 3 on timeout.
#include "winapi.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        return 1;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return 2;
    }
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) {
        CloseHandle(ready);
    }
    int code = 3;
    for (int waited = 0; waited < 60000; waited += 10) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            code = 0;
            break;
        }
        Sleep(10);
    }
    CloseHandle(held);
    return code;
}
