#include "ktPlatform.h"

namespace {
DWORD platformId = 0; // 0: the one GetVersionExA reports
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
    return platformId != 0 ? platformId : PlatformVersion().dwPlatformId;
}

void SetPlatformId(DWORD id) {
    platformId = id;
}

bool IsNtFamily() {
    return PlatformId() == VER_PLATFORM_WIN32_NT;
}
