// Path arguments of the file calls: the checks a Windows name must pass,
// its native form, the errors for missing names, and short path names.
#include "files.h"

#include <cerrno>
#include <cstring>

namespace pal {

std::string ParentOf(const std::string& nativePath) {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& nativePath) {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The error for a name that does not exist: the file is missing, or
// already the folder that should hold it.
DWORD MissingError(const std::string& nativePath) {
    return IsDirectory(ParentOf(nativePath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD StatError(const std::string& nativePath, int err) {
    if (err == ENOENT) {
        return MissingError(nativePath);
    }
    if (err == ENOTDIR) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ErrorFromErrno(err);
}

namespace {

// Whether a Windows path holds a character that no Windows file name may
// hold; a colon may only follow the drive letter. Native paths pass as they
// are.
bool HasInvalidCharacter(const char* windowsPath) {
    if (windowsPath[0] == '/') {
        return false; // a native path, used as it is
    }
    for (const char* c = windowsPath; *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        if (byte < 32 || strchr("<>\"|?*", byte) != nullptr ||
            (byte == ':' && c != windowsPath + 1)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool Resolve(LPCSTR windowsPath, std::string& nativePath) {
    if (windowsPath == nullptr || *windowsPath == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (HasInvalidCharacter(windowsPath)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    nativePath = NativePath(windowsPath);
    if (nativePath.empty()) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    return true;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

bool IsDriveRoot(const std::string& nativeDir) {
    std::string prefix = MachineRoot() + "/drive_";
    std::string dir = nativeDir;
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir == "/" ||
           (dir.size() == prefix.size() + 1 && dir.compare(0, prefix.size(), prefix) == 0);
}

} // namespace pal

using namespace pal;

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (lpszLongPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text = lpszLongPath;
    std::string path;
    if (!Resolve(lpszLongPath, path)) {
        return 0;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        // Windows says "file not found" whichever part of the path is missing.
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                         : ErrorFromErrno(errno));
        return 0;
    }
    // Each name in the given path is traded for its short form; the
    // separators, the drive and "." / ".." stay as given.
    std::string result;
    size_t pos = 0;
    if (text.size() >= 2 && text[1] == ':') {
        result = text.substr(0, 2);
        pos = 2;
    }
    while (pos < text.size()) {
        if (text[pos] == '\\' || text[pos] == '/') {
            result += text[pos++];
            continue;
        }
        size_t end = text.find_first_of("\\/", pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(pos, end - pos);
        if (part == "." || part == "..") {
            result += part;
        } else {
            std::string native = NativePath(text.substr(0, end).c_str());
            result += ShortNameIn(ParentOf(native), BaseNameOf(native));
        }
        pos = end;
    }
    return CopyOut(result, lpszShortPath, cchBuffer);
}
