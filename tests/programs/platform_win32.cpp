#include "testlog.h"

#include <windows.h>

std::string EnvironmentValue(const char* name) {
    char buffer[4096];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::string RawCommandLine() {
    return GetCommandLineA();
}

int StartShowValue() {
    STARTUPINFOA info = {};
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : -1;
}

void PauseOneSecond() {
    Sleep(1000);
}

void PauseTenthOfSecond() {
    Sleep(100);
}
