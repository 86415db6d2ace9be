// The system's own forms of a path: GetFullPathNameA (the absolute path,
// the way every file call normalises its argument) and GetLongPathNameA
// (the long names of an existing path's parts).
#include "files.h"

#include <cctype>
#include <vector>

namespace pal {

namespace {

// The length of the part that ".." never climbs above: "X:\", the server
// and share of "\\server\share\", the "\\.\" or "\\?\" of a path in the
// device namespace (".." there climbs above the drive), or the "/" of a
// native path.
size_t FloorLength(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':') {
        return 3;
    }
    if (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "\\\\?\\") == 0) {
        return 4;
    }
    if (path.compare(0, 2, "\\\\") == 0) {
        size_t server = path.find('\\', 2);
        if (server == std::string::npos) {
            return path.size();
        }
        size_t share = path.find('\\', server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 1;
}

// Windows' rules for an absolute path, separators already backslashes:
// repeated separators become one; "." parts go, ".." parts take the part
// before them with them (never the floor); a part followed by a separator
// loses one trailing dot; the path loses its trailing dots and blanks.
std::string Collapse(const std::string& path, size_t floor) {
    std::string head = path.substr(0, floor);
    std::vector<std::string> parts;
    bool trailingSeparator = false;
    size_t pos = floor;
    while (pos < path.size()) {
        size_t end = path.find('\\', pos);
        bool last = end == std::string::npos;
        std::string part = path.substr(pos, last ? std::string::npos : end - pos);
        pos = last ? path.size() : end + 1;
        trailingSeparator = !last;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        if (!last && part.back() == '.') {
            part.pop_back();
        }
        parts.push_back(part);
    }
    std::string result = head;
    for (size_t i = 0; i < parts.size(); ++i) {
        result += (i == 0 ? "" : "\\") + parts[i];
    }
    if (trailingSeparator && !parts.empty()) {
        result += '\\';
    }
    while (result.size() > floor && (result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result;
}

std::string CurrentDirectory() {
    char buffer[4096] = {};
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : "C:\\";
}

std::string WithSeparator(const std::string& dir) {
    return !dir.empty() && IsSeparator(dir.back()) ? dir : dir + "\\";
}

// The absolute form of a path, before Collapse: relative paths are joined
// to the current directory, "\x" to its drive, "X:x" to it when it lies on
// drive X (else to X's root).
std::string Absolute(const std::string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return path;
    }
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
        if (path.size() >= 3 && IsSeparator(path[2])) {
            return path;
        }
        std::string current = CurrentDirectory();
        if (current.size() >= 2 && current[1] == ':' &&
            toupper(static_cast<unsigned char>(current[0])) ==
                toupper(static_cast<unsigned char>(path[0]))) {
            return WithSeparator(current) + path.substr(2);
        }
        return path.substr(0, 2) + "\\" + path.substr(2);
    }
    std::string current = CurrentDirectory();
    bool nativeCurrent = current[0] == '/'; // outside the machine folder
    if (path[0] == '\\') {
        return (nativeCurrent ? "C:" : current.substr(0, FloorLength(current) - 1)) + path;
    }
    return WithSeparator(current) + path;
}

std::string FullPath(const char* given) {
    std::string path = given;
    bool native = path[0] == '/'; // the layer's native paths stay native
    if (!native) {
        path = Absolute(path);
        native = path[0] == '/';
    }
    for (char& c : path) {
        c = IsSeparator(c) ? '\\' : c;
    }
    std::string result = Collapse(path, FloorLength(native ? "\\" : path));
    if (native) {
        for (char& c : result) {
            c = c == '\\' ? '/' : c;
        }
    }
    return result;
}

// The long form of an existing path: each part that fits 8.3 traded for
// the name the folder holds (a short name for its long one); longer parts,
// separators, the drive, "." and ".." stay as given, and so does a relative
// path.
std::string LongPath(const std::string& text) {
    return MapPathNames(text, [](const std::string& part, const std::string& upTo) {
        return FitsShortName(part) ? BaseNameOf(NativePath(upTo.c_str())) : part;
    });
}

} // namespace

} // namespace pal

using namespace pal;

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR* lpFilePart) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string result;
    DeviceName device;
    bool isDevice = false;
    if (DeviceOf(lpFileName, device) && !device.namespaced) {
        result = "\\\\.\\" + device.name;
        isDevice = true;
    } else {
        result = FullPath(lpFileName);
    }
    DWORD length = CopyOut(result, nBufferLength > 0 ? lpBuffer : nullptr, nBufferLength);
    if (lpFilePart != nullptr && length == result.size()) {
        char* name = lpBuffer + result.find_last_of("\\/") + 1;
        *lpFilePart = *name != '\0' && !isDevice ? name : nullptr;
    }
    return length;
}

DWORD WINAPI GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
    if (lpszShortPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (*lpszShortPath == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    DeviceName device;
    if (DeviceOf(lpszShortPath, device)) {
        if (DeviceFolderError(device) != ERROR_SUCCESS) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        return CopyOut(lpszShortPath, lpszLongPath, cchBuffer);
    }
    std::string path;
    if (!Resolve(lpszShortPath, path)) {
        return 0;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        // As GetShortPathNameA: "file not found" whichever part is missing.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return CopyOut(LongPath(lpszShortPath), lpszLongPath, cchBuffer);
}
