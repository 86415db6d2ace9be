#include "ktPlatform.h"

namespace {
bool overridden = false;
DWORD platformId = 0;
} // namespace

const OSVERSIONINFOA& PlatformVersion() {
    static const OSVERSIONINFOA version = [] {
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = sizeof info;
        if (!GetVersionExA(&info)) {
            info = {};
            info.dwOSVersionInfoSize = sizeof info;
            info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        }
        return info;
    }();
    return version;
}

DWORD PlatformId() {
    return overridden ? platformId : PlatformVersion().dwPlatformId;
}

void SetPlatformId(DWORD id) {
    overridden = true;
    platformId = id;
}

bool IsNtFamily() {
    return PlatformId() == VER_PLATFORM_WIN32_NT;
}

DWORD ShareAll() {
    return FILE_SHARE_READ | FILE_SHARE_WRITE | (IsNtFamily() ? FILE_SHARE_DELETE : 0);
}
