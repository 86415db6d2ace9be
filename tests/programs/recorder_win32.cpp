#include "recorder_platform.h"

#include <windows.h>

std::string RawCommandLine() {
    return GetCommandLineA();
}

int StartShowValue() {
    STARTUPINFOA info = {};
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : -1;
}
