// The guard rails' tables: well-known registry keys and protected folders.
#include "ktGuardRails.h"

#include "ktFileUtils.h"
#include "ktRegIni.h"
#include "ktStringList.h"
#include "ktUtils.h"
#include "winapi.h"
#include "ktText.h"

#include <unordered_set>
#include <vector>

namespace {

// Keys that an uninstall never deletes with everything below them. HKCR is
// written as what it shows, HKLM\SOFTWARE\Classes; every HKLM\SOFTWARE key
// is protected under Wow6432Node too, where a 32-bit program's view lives.
const char* const kWellKnownKeys[] = {
    "HKLM\\SOFTWARE",
    "HKLM\\SOFTWARE\\Classes",
    "HKLM\\SOFTWARE\\Classes\\CLSID",
    "HKLM\\SOFTWARE\\Classes\\Interface",
    "HKLM\\SOFTWARE\\Classes\\TypeLib",
    "HKLM\\SOFTWARE\\Classes\\AppID",
    "HKLM\\SOFTWARE\\Classes\\*",
    "HKLM\\SOFTWARE\\Classes\\Directory",
    "HKLM\\SOFTWARE\\Classes\\Folder",
    "HKLM\\SOFTWARE\\Microsoft",
    "HKLM\\SOFTWARE\\Microsoft\\Windows",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies",
    "HKLM\\SOFTWARE\\Policies",
    "HKLM\\SOFTWARE\\Wow6432Node",
    "HKLM\\SYSTEM",
    "HKLM\\HARDWARE",
    "HKLM\\SAM",
    "HKLM\\SECURITY",
    "HKCU\\Software",
    "HKCU\\Software\\Classes",
    "HKCU\\Software\\Microsoft",
    "HKCU\\Software\\Microsoft\\Windows",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies",
    "HKCU\\Software\\Policies",
    "HKCU\\Control Panel",
    "HKCU\\Environment",
    "HKU\\.DEFAULT",
};

const char kSoftware[] = "HKLM\\SOFTWARE\\";
const char kWowSoftware[] = "HKLM\\SOFTWARE\\Wow6432Node\\";

// Every well-known key and every ancestor of one, upper-cased: a key is
// protected exactly when it is in this set.
const std::unordered_set<std::string>& ProtectedKeys() {
    static const std::unordered_set<std::string> keys = [] {
        std::unordered_set<std::string> result;
        auto addWithAncestors = [&result](std::string key) {
            key = UpperCase(key);
            for (;;) {
                result.insert(key);
                size_t slash = key.rfind('\\');
                if (slash == std::string::npos) {
                    break;
                }
                key.resize(slash);
            }
        };
        const size_t softwareLength = sizeof kSoftware - 1;
        for (const char* key : kWellKnownKeys) {
            std::string text = key;
            addWithAncestors(text);
            if (text.compare(0, softwareLength, kSoftware) == 0) {
                addWithAncestors(kWowSoftware + text.substr(softwareLength));
            }
        }
        return result;
    }();
    return keys;
}

const char* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) {
        return "HKLM\\SOFTWARE\\Classes";
    }
    if (root == HKEY_CURRENT_USER) {
        return "HKCU";
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKLM";
    }
    if (root == HKEY_USERS) {
        return "HKU";
    }
    return nullptr;
}

bool IsDriveRoot(const std::string& normalized) {
    if (normalized.empty()) {
        return true; // a root such as "\" loses its only backslash
    }
    if (normalized.size() == 2 && normalized[1] == ':') {
        return true;
    }
    // "\\server\share" is the root of a network drive.
    if (normalized.size() > 2 && normalized[0] == '\\' && normalized[1] == '\\') {
        size_t slash = normalized.find('\\', 2);
        return slash == std::string::npos || normalized.find('\\', slash + 1) == std::string::npos;
    }
    return false;
}

std::string SystemDirectory() {
    char buffer[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::string(buffer, length) : std::string();
}

// The folders that are never removed, long and short forms, normalized.
// Folder identifiers 0 to 0x3F cover every shell folder the system knows;
// the ones it cannot name are skipped.
const std::unordered_set<std::string>& ProtectedDirectories() {
    static const std::unordered_set<std::string> folders = [] {
        std::vector<std::string> paths = {GetWindowsDir(), SystemDirectory()};
        for (int folder = 0; folder <= 0x3F; ++folder) {
            char buffer[MAX_PATH + 1] = {};
            if (SHGetSpecialFolderPathA(nullptr, buffer, folder, FALSE) && buffer[0] != '\0') {
                paths.push_back(buffer);
            }
        }
        std::unordered_set<std::string> result;
        for (const std::string& path : paths) {
            if (path.empty()) {
                continue;
            }
            result.insert(NormalizeFilePath(path));
            result.insert(NormalizeFilePath(GetShortPath(path)));
        }
        return result;
    }();
    return folders;
}

} // namespace

std::string NormalizeFilePath(const std::string& path) {
    std::string result = path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    while (!result.empty() && result.back() == '\\') {
        result.pop_back();
    }
    return UpperCase(result);
}

std::string CanonicalRegKey(const std::string& keyPath) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    // The key part of the path with a backslash added is exactly what a
    // deletion of the key would open.
    SplitRegPath(AddBackslash(keyPath), root, subKey, valueName);
    const char* rootName = RootName(root);
    if (rootName == nullptr) {
        return std::string();
    }
    while (!subKey.empty() && subKey.back() == '\\') {
        subKey.pop_back();
    }
    std::string key = rootName;
    if (!subKey.empty()) {
        key += '\\';
        key += subKey;
    }
    return UpperCase(key);
}

bool IsProtectedRegKey(const std::string& keyPath) {
    std::string key = CanonicalRegKey(keyPath);
    // A path without a root deletes nothing anyway.
    return !key.empty() && ProtectedKeys().count(key) != 0;
}

bool IsProtectedDirectory(const std::string& path) {
    std::string normalized = NormalizeFilePath(path);
    if (IsDriveRoot(normalized)) {
        return true;
    }
    const std::unordered_set<std::string>& folders = ProtectedDirectories();
    if (folders.count(normalized) != 0) {
        return true;
    }
    // Only a short (8.3) form holds a "~"; any other name is its own short
    // form, and asking the file system for every entry would cost a call
    // per directory.
    return normalized.find('~') != std::string::npos &&
           folders.count(NormalizeFilePath(GetShortPath(path))) != 0;
}
