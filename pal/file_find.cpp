// Find handles: FindFirstFileA takes a snapshot of the folder's matching
// names in case-insensitive order, FindNextFileA serves it.
#include "files.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <dirent.h>

namespace pal {

FILETIME ToFileTime(const struct timespec& time) {
    // 100-nanosecond intervals since 1601-01-01.
    uint64_t ticks = (static_cast<uint64_t>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
                     static_cast<uint64_t>(time.tv_nsec) / 100;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

namespace {

struct FindObject : Object {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

bool FillFindData(const std::string& dir, const std::string& name, WIN32_FIND_DATAA& data) {
    if (name.size() >= MAX_PATH) {
        return false;
    }
    std::string path = dir == "/" ? "/" + name : dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) {
        return false;
    }
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = AttributesOf(path, st);
    data.ftCreationTime = ToFileTime(st.st_ctim);
    data.ftLastAccessTime = ToFileTime(st.st_atim);
    data.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        data.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    memcpy(data.cFileName, name.c_str(), name.size() + 1);
    if (name != "." && name != ".." && !FitsShortName(name)) {
        std::string shortName = ShortNameIn(dir, name);
        if (shortName.size() < sizeof data.cAlternateFileName) {
            memcpy(data.cAlternateFileName, shortName.c_str(), shortName.size() + 1);
        }
    }
    return true;
}

// Windows wildcards, letter case ignored: "*" any run, "?" one character.
bool Matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' ||
                   (*pattern != '\0' && UpperCase(*pattern) == UpperCase(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

// A device is found as one entry under its name as given, without its
// extension; the device namespace (\\.\NUL) is no folder to search.
HANDLE FindDevice(const DeviceName& device) {
    DWORD error = device.namespaced ? ERROR_INVALID_NAME : DeviceFolderError(device);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_unique<FindObject>();
    WIN32_FIND_DATAA data;
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    memcpy(data.cFileName, device.name.c_str(), device.name.size() + 1);
    find->entries.push_back(data);
    find->next = 1;
    return AddHandle(std::move(find));
}

} // namespace

} // namespace pal

using namespace pal;

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DeviceName device;
    if (DeviceOf(lpFileName, device)) {
        HANDLE found = FindDevice(device);
        if (found != INVALID_HANDLE_VALUE) {
            *lpFindFileData = LookupHandleAs<FindObject>(found)->entries[0];
        }
        return found;
    }
    std::string text = lpFileName;
    size_t cut = text.find_last_of("\\/");
    std::string pattern = cut == std::string::npos ? text : text.substr(cut + 1);
    std::string dirPart = cut == std::string::npos ? "" : text.substr(0, cut + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (dirPart.empty() && text.size() >= 2 && text[1] == ':') {
        dirPart = text.substr(0, 2);
        pattern = text.substr(2);
        if (pattern.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    std::string dir = NativePath(dirPart.empty() ? "." : dirPart.c_str());
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    if (dir.empty() || !IsDirectory(dir)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_unique<FindObject>();
    WIN32_FIND_DATAA data;
    if (pattern.find_first_of("*?") == std::string::npos) {
        std::string exact = NativePath(text.c_str());
        if (FillFindData(dir, BaseNameOf(exact), data) && Exists(exact)) {
            find->entries.push_back(data);
        }
    } else {
        if (pattern == "*.*") {
            pattern = "*";
        }
        std::vector<std::string> names;
        if (UniqueDir handle{opendir(dir.c_str())}) {
            while (struct dirent* entry = readdir(handle.get())) {
                std::string name = entry->d_name;
                if ((name == "." || name == "..") && IsDriveRoot(dir)) {
                    continue;
                }
                if (Matches(pattern.c_str(), name.c_str())) {
                    names.push_back(name);
                }
            }
        }
        // A stable order, "." and ".." first, as the file systems of Windows list them.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            bool aDot = a == "." || a == "..";
            bool bDot = b == "." || b == "..";
            if (aDot != bDot) {
                return aDot;
            }
            std::string ua = UpperCase(a), ub = UpperCase(b);
            return ua != ub ? ua < ub : a < b;
        });
        for (const auto& name : names) {
            if (FillFindData(dir, name, data)) {
                find->entries.push_back(data);
            }
        }
    }
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = find->entries[0];
    find->next = 1;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::move(find));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto* find = LookupHandleAs<FindObject>(hFindFile);
    if (find == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (find->next >= find->entries.size()) {
        return Fail(ERROR_NO_MORE_FILES);
    }
    *lpFindFileData = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (LookupHandleAs<FindObject>(hFindFile) == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    CloseHandleObject(hFindFile);
    return TRUE;
}
