// File attributes: read-only is the absence of write permission on a file
// (only a mark on a folder); hidden, system, archive and temporary live in
// the extended attribute user.vantrel.attrs, or in memory for the life of
// the process where the file system has no user extended attributes.
#include "faults.h"
#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include <sys/xattr.h>

namespace pal {

namespace {

const char kAttrName[] = "user.vantrel.attrs";

// Where extended attributes are not supported, the bits live in memory for
// the life of the process, keyed by file identity.
std::mutex sideTableMutex;
std::unordered_map<std::string, DWORD>& SideTable() {
    static auto& table = *new std::unordered_map<std::string, DWORD>();
    return table;
}

std::string IdentityKey(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

DWORD StoredAttributes(const std::string& nativePath, const struct stat& st) {
    char text[32] = {};
    ssize_t got = getxattr(nativePath.c_str(), kAttrName, text, sizeof text - 1);
    if (got > 0) {
        return static_cast<DWORD>(strtoul(text, nullptr, 16));
    }
    if (got < 0 && errno == ENOTSUP) {
        std::lock_guard<std::mutex> lock(sideTableMutex);
        auto found = SideTable().find(IdentityKey(st));
        return found == SideTable().end() ? 0 : found->second;
    }
    return 0;
}

} // namespace

bool StoreAttributes(const std::string& nativePath, const struct stat& st, DWORD bits) {
    if (bits == 0) {
        if (removexattr(nativePath.c_str(), kAttrName) == 0 || errno == ENODATA) {
            return true;
        }
    } else {
        char text[32];
        snprintf(text, sizeof text, "%x", static_cast<unsigned>(bits));
        if (setxattr(nativePath.c_str(), kAttrName, text, strlen(text), 0) == 0) {
            return true;
        }
    }
    if (errno != ENOTSUP) {
        return false;
    }
    std::lock_guard<std::mutex> lock(sideTableMutex);
    if (bits == 0) {
        SideTable().erase(IdentityKey(st));
    } else {
        SideTable()[IdentityKey(st)] = bits;
    }
    return true;
}

bool IsReadOnlyFile(const struct stat& st) {
    return !S_ISDIR(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

DWORD AttributesOf(const std::string& nativePath, const struct stat& st) {
    DWORD stored = StoredAttributes(nativePath, st);
    DWORD attrs = stored & kStoredAttrs;
    if (S_ISDIR(st.st_mode)) {
        // A folder's read-only flag is only a mark, as on Windows: it does
        // not stop changes inside the folder, so it is not a permission.
        attrs |= FILE_ATTRIBUTE_DIRECTORY | (stored & FILE_ATTRIBUTE_READONLY);
    } else if (IsReadOnlyFile(st)) {
        attrs |= FILE_ATTRIBUTE_READONLY;
    }
    return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

bool ApplyAttributes(const std::string& nativePath, DWORD attrs) {
    struct stat st;
    if (stat(nativePath.c_str(), &st) != 0) {
        return false;
    }
    DWORD stored = attrs & kStoredAttrs;
    if (S_ISDIR(st.st_mode)) {
        stored |= attrs & FILE_ATTRIBUTE_READONLY;
    } else {
        mode_t mode = st.st_mode & 07777;
        mode_t wanted = (attrs & FILE_ATTRIBUTE_READONLY)
                            ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                            : (IsReadOnlyFile(st) ? (mode | S_IWUSR) : mode);
        if (wanted != mode && chmod(nativePath.c_str(), wanted) != 0) {
            return false;
        }
    }
    return StoreAttributes(nativePath, st, stored);
}

} // namespace pal

using namespace pal;

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    DeviceName device;
    if (DeviceOf(lpFileName, device)) {
        DWORD error = DeviceFolderError(device);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return INVALID_FILE_ATTRIBUTES;
        }
        return FILE_ATTRIBUTE_ARCHIVE; // what Windows shows for every device
    }
    std::string path;
    struct stat st;
    if (!ResolveExisting(lpFileName, path, st)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(path, st);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (pal::InjectedFault("SetFileAttributesA")) {
        return FALSE;
    }
    DeviceName device;
    if (DeviceOf(lpFileName, device)) {
        DWORD error = DeviceOpenError(device);
        return error == ERROR_SUCCESS ? TRUE : Fail(error); // a device keeps no attributes
    }
    std::string path;
    struct stat st;
    if (!ResolveExisting(lpFileName, path, st)) {
        return FALSE;
    }
    if (!ApplyAttributes(path, dwFileAttributes)) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}
