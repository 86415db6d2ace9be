// Deleting files now or at the next restart of the system.
#include "ktFileUtilsRemoval.h"

#include "ktFileUtils.h"
#include "ktIniCache.h"
#include "ktMoveAside.h"
#include "ktPlatform.h"

bool RemoveFile(const std::string& path) {
    // Deleting "C:\App\NUL" would name the device, not a file of the app.
    if (IsDeviceName(path)) {
        // The caller records the refusal: it must not read a stale error.
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Most files carry no read-only, hidden or system attribute: try the
    // deletion first and reset the attributes only when it is refused. A
    // file that still cannot be deleted keeps its attributes normal.
    if (DeleteFileA(path.c_str())) {
        return true;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
}

bool DeleteOnRestart(const std::string& path, std::string* movedTo) {
    // A file that is gone already needs nothing: an entry for it would
    // delete whatever is installed under that name before the restart.
    if (IsDeviceName(path) || !FileExists(path)) {
        return false;
    }
    if (PlatformId() == VER_PLATFORM_WIN32_NT) {
        // First aside, so that the name is free at once; a file whose
        // rename is refused is scheduled under its own name.
        std::string aside;
        if (movedTo != nullptr && MoveAsideForRestart(path, aside)) {
            *movedTo = aside;
            return true;
        }
        return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }
    // One "NUL=" line per file, after the lines already there (another
    // program's pending deletions included).
    return IniAddLine(RestartListFile(), "Rename", "NUL", GetShortPath(path));
}
