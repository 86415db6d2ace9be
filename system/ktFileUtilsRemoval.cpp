// Deleting files now or at the next restart of the system.
#include "ktFileUtils.h"

#include "ktPlatform.h"
#include "ktIniCache.h"
#include "ktMoveAside.h"
#include "ktSafeWrite.h"
#include "ktUtils.h"

#include <vector>

std::string GetShortPath(const std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    DWORD length =
        GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length >= buffer.size()) {
        // Too long for the buffer: the call told the size it needs.
        buffer.resize(length + 1);
        length = GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length >= buffer.size()) {
            return path;
        }
    }
    if (length == 0) {
        return path;
    }
    return std::string(buffer.data());
}

bool IsDeviceName(const std::string& path) {
    size_t start = path.find_last_of("\\/:");
    std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
    // Windows ignores what follows the first dot, and blanks before it.
    name = name.substr(0, name.find('.'));
    size_t end = name.find_last_not_of(' ');
    name.erase(end == std::string::npos ? 0 : end + 1);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") {
        return true;
    }
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

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
