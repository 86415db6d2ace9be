// Path arguments of the file calls: the checks a Windows name must pass,
// its native form, the errors for missing names, and short path names.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

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

// Of the paths in the device namespace only drive paths name files:
// \\?\X:\... with its names taken as they are (no "." or "..", no "/"), and
// \\.\X:\... like X:\... . UNC paths are not reached; other devices do not
// exist.
DWORD PrefixError(const char* windowsPath) {
    const char* rest = windowsPath + 4;
    bool drive = ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z')) &&
                 rest[1] == ':' && rest[2] == '\\';
    if (!drive) {
        return strncasecmp(rest, "UNC\\", 4) == 0 ? ERROR_BAD_PATHNAME : ERROR_FILE_NOT_FOUND;
    }
    if (windowsPath[2] == '.') {
        return ERROR_SUCCESS;
    }
    if (strchr(rest, '/') != nullptr) {
        return ERROR_INVALID_NAME;
    }
    for (const char* part = rest + 3; *part != '\0';) {
        const char* end = strchr(part, '\\');
        size_t length = end == nullptr ? strlen(part) : static_cast<size_t>(end - part);
        if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
            return ERROR_INVALID_NAME;
        }
        part += length + (end == nullptr ? 0 : 1);
    }
    return ERROR_SUCCESS;
}

} // namespace

bool Resolve(LPCSTR windowsPath, std::string& nativePath) {
    if (windowsPath == nullptr || *windowsPath == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (HasDevicePrefix(windowsPath)) {
        DWORD error = PrefixError(windowsPath);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return false;
        }
        windowsPath += 4; // the same checks as the path without the prefix
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

bool ResolveExisting(LPCSTR windowsPath, std::string& nativePath, struct stat& st) {
    if (!Resolve(windowsPath, nativePath)) {
        return false;
    }
    if (stat(nativePath.c_str(), &st) != 0) {
        SetLastError(StatError(nativePath, errno));
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

std::string MapPathNames(const std::string& text,
                         std::string (*name)(const std::string& part, const std::string& upTo)) {
    std::string result;
    size_t pos = 0;
    if (HasDevicePrefix(text.c_str())) {
        result = text.substr(0, 4);
        pos = 4;
    }
    if (text.size() >= pos + 2 && text[pos + 1] == ':') {
        result += text.substr(pos, 2);
        pos += 2;
    }
    while (pos < text.size()) {
        if (IsSeparator(text[pos])) {
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
            result += name(part, text.substr(0, end));
        }
        pos = end;
    }
    return result;
}

} // namespace pal

using namespace pal;

namespace {

// The short form of an existing path: each name traded for its short form;
// the separators, the prefix, the drive and "." / ".." stay as given.
std::string ShortPath(const std::string& text) {
    return MapPathNames(text, [](const std::string&, const std::string& upTo) {
        std::string native = NativePath(upTo.c_str());
        return ShortNameIn(ParentOf(native), BaseNameOf(native));
    });
}

} // namespace

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (lpszLongPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DeviceName device;
    if (DeviceOf(lpszLongPath, device)) {
        // The folder's short form and the device's name, without extension.
        if (DeviceFolderError(device) != ERROR_SUCCESS) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        std::string result =
            device.namespaced ? std::string(lpszLongPath) : ShortPath(device.folder) + device.name;
        return CopyOut(result, lpszShortPath, cchBuffer);
    }
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
    return CopyOut(ShortPath(lpszLongPath), lpszShortPath, cchBuffer);
}
