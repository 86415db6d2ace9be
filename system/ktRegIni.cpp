// Registry values and keys through path strings: "HKLM\Sub\Key\Value". Every
// operation splits the path, opens its key, does one thing and closes the key
// again; nothing raises, failures come back as false, a default or an empty
// list.
#include "ktRegIni.h"

#include "ktFileUtils.h"

#include "ktHandle.h"

#include <vector>

namespace {

// The value name after the separator: a name in single quotes loses them,
// with each doubled quote inside turned into one and anything after the
// closing quote dropped.
std::string UnquoteValueName(const std::string& name) {
    if (name.empty() || name[0] != '\'') {
        return name;
    }
    std::string result;
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i] == '\'') {
            if (i + 1 < name.size() && name[i + 1] == '\'') {
                result += '\'';
                ++i;
                continue;
            }
            break;
        }
        result += name[i];
    }
    return result;
}

HKEY RootOf(const std::string& abbreviation) {
    if (abbreviation == "HKCR") {
        return HKEY_CLASSES_ROOT;
    }
    if (abbreviation == "HKCU") {
        return HKEY_CURRENT_USER;
    }
    if (abbreviation == "HKLM") {
        return HKEY_LOCAL_MACHINE;
    }
    if (abbreviation == "HKU") {
        return HKEY_USERS;
    }
    return nullptr;
}

// Splits and opens the key part of a path; false (and no key) for a path
// without a root or a key that does not open.
bool OpenPathKey(const std::string& path, TScopedRegKey& key, std::string& valueName) {
    HKEY root = nullptr;
    std::string subKey;
    SplitRegPath(path, root, subKey, valueName);
    if (!root) {
        return false;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyA(root, subKey.c_str(), &opened) != ERROR_SUCCESS) {
        return false;
    }
    key.Reset(opened);
    return true;
}

// A path whose key part is a root alone ("HKCU\", "HKLM"): deleting what it
// names would empty a whole hive.
bool NamesRootKey(const std::string& path) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(AddBackslash(path), root, subKey, valueName);
    return root != nullptr && subKey.empty();
}

// Appends the names of an open key's subkeys or values, in the order of the
// enumeration indices, up to the first index that does not answer.
void EnumNames(HKEY key, TStringList& list, bool subKeys) {
    // The buffer lives only for the listing, not across a caller's recursion.
    std::vector<char> name(1024);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(name.size());
        LSTATUS rc =
            subKeys
                ? RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr)
                : RegEnumValueA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            break;
        }
        list.Add(std::string(name.data(), size));
    }
}

void ListNames(const std::string& path, TStringList& list, bool subKeys) {
    list.BeginUpdate();
    list.Clear();
    TScopedRegKey key;
    std::string valueName;
    if (OpenPathKey(AddBackslash(path), key, valueName)) {
        EnumNames(key.Get(), list, subKeys);
    }
    list.EndUpdate();
}

} // namespace

int FindRegPathSeparator(const std::string& path) {
    bool inQuotes = false;
    char quote = '\0';
    for (int i = static_cast<int>(path.size()) - 1; i >= 0; --i) {
        char c = path[i];
        if (c == '\'' || c == '"') {
            if (!inQuotes) {
                inQuotes = true;
                quote = c;
            } else if (c == quote) {
                inQuotes = false;
            }
        }
        if (!inQuotes && c == '\\') {
            return i + 1;
        }
    }
    return 0;
}

std::string ExtractRegKeyPath(const std::string& path) {
    int separator = FindRegPathSeparator(path);
    return separator > 0 ? path.substr(0, separator - 1) : std::string();
}

std::string ExtractRegValueName(const std::string& path) {
    int separator = FindRegPathSeparator(path);
    return UnquoteValueName(separator > 0 ? path.substr(separator) : path);
}

void SplitRegPath(const std::string& path, HKEY& root, std::string& subKey,
                  std::string& valueName) {
    std::string keyPath = ExtractRegKeyPath(path);
    valueName = ExtractRegValueName(path);
    size_t slash = keyPath.find('\\');
    std::string abbreviation = slash == std::string::npos ? keyPath : keyPath.substr(0, slash);
    root = RootOf(abbreviation);
    // Empty parts name nothing: a doubled, leading or trailing backslash in
    // the key part is one separator or none.
    subKey.clear();
    for (size_t i = abbreviation.size(); i < keyPath.size(); ++i) {
        if (keyPath[i] != '\\') {
            subKey += keyPath[i];
        } else if (!subKey.empty() && i + 1 < keyPath.size() && keyPath[i + 1] != '\\') {
            subKey += '\\';
        }
    }
}

bool HasKnownRoot(const std::string& path) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(AddBackslash(path), root, subKey, valueName);
    return root != nullptr;
}

bool ReadRegValue(const std::string& path, void* data, DWORD& dataSize) {
    TScopedRegKey key;
    std::string valueName;
    if (!OpenPathKey(path, key, valueName)) {
        return false;
    }
    DWORD type = 0;
    return RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, static_cast<BYTE*>(data),
                            &dataSize) == ERROR_SUCCESS;
}

int32_t ReadRegInteger(const std::string& path, int32_t defaultValue) {
    // Bytes that a shorter value does not fill stay 0.
    BYTE buffer[4] = {0, 0, 0, 0};
    DWORD size = sizeof buffer;
    if (!ReadRegValue(path, buffer, size)) {
        return defaultValue;
    }
    uint32_t value = static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
                     static_cast<uint32_t>(buffer[2]) << 16 |
                     static_cast<uint32_t>(buffer[3]) << 24;
    return static_cast<int32_t>(value);
}

bool WriteRegValue(const std::string& path, DWORD type, const void* data, DWORD dataSize) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(path, root, subKey, valueName);
    if (!root) {
        return false;
    }
    TScopedRegKey key;
    if (RegCreateKeyA(root, subKey.c_str(), key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.Get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data),
                          dataSize) == ERROR_SUCCESS;
}

bool WriteRegInteger(const std::string& path, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    BYTE data[4] = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8),
                    static_cast<BYTE>(bits >> 16), static_cast<BYTE>(bits >> 24)};
    return WriteRegValue(path, REG_DWORD, data, sizeof data);
}

bool RegKeyExists(const std::string& path) {
    TScopedRegKey key;
    std::string valueName;
    return OpenPathKey(AddBackslash(path), key, valueName);
}

bool RegValueExists(const std::string& path) {
    TScopedRegKey key;
    std::string valueName;
    if (!OpenPathKey(path, key, valueName)) {
        return false;
    }
    return RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool DeleteRegValue(const std::string& path) {
    TScopedRegKey key;
    std::string valueName;
    if (!OpenPathKey(path, key, valueName)) {
        return false;
    }
    return RegDeleteValueA(key.Get(), valueName.c_str()) == ERROR_SUCCESS;
}

void GetRegSubKeyNames(const std::string& path, TStringList& list) {
    ListNames(path, list, true);
}

void GetRegValueNames(const std::string& path, TStringList& list) {
    ListNames(path, list, false);
}

bool RegKeyDeletable(const std::string& path) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    std::string base = AddBackslash(path);
    SplitRegPath(base, root, subKey, valueName);
    if (!root) {
        return false;
    }
    TScopedRegKey key;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, DELETE | KEY_SET_VALUE | KEY_READ, key.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    TStringList names;
    EnumNames(key.Get(), names, true);
    key.Close();
    for (int i = 0; i < names.Count(); ++i) {
        if (!RegKeyDeletable(base + names[i])) {
            return false;
        }
    }
    return true;
}

bool RegValueDeletable(const std::string& path) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(path, root, subKey, valueName);
    TScopedRegKey key;
    return root != nullptr &&
           RegOpenKeyExA(root, subKey.c_str(), 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS;
}

bool IsRootKeyPath(const std::string& path) {
    return NamesRootKey(path);
}

TRegValueRemoval RemoveRegValueEntry(const std::string& path, LSTATUS& error) {
    // The deletion is tried first, on one open of the key: it succeeds
    // exactly when the value exists and can go, and only a failure other
    // than "not found" needs the existence test to tell "exists but stays"
    // from "no such value". An uninstall removes thousands of values, and
    // every call is a trip to the registry.
    error = ERROR_SUCCESS;
    TScopedRegKey key;
    std::string valueName;
    if (!OpenPathKey(path, key, valueName)) {
        return kRegNoValue;
    }
    LSTATUS rc = RegDeleteValueA(key.Get(), valueName.c_str());
    if (rc == ERROR_SUCCESS) {
        return kRegValueRemoved;
    }
    if (rc != ERROR_FILE_NOT_FOUND &&
        RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
        error = rc;
        return kRegValueStays;
    }
    return kRegNoValue;
}

bool DeleteRegKey(const std::string& path) {
    if (NamesRootKey(path)) {
        return false;
    }
    TStringList names;
    std::string base = AddBackslash(path);
    // One open of the key serves both listings and its values' deletion (a
    // key tree costs a trip to the registry per call). The subkey listing is
    // still complete before anything is deleted. A value goes through this
    // handle only where its path, base + name, splits back into this very
    // key and name; any other name is handed to DeleteRegValue by path, so
    // that it ends exactly as a path-by-path deletion would leave it.
    TScopedRegKey key;
    HKEY root = nullptr;
    std::string subKey;
    std::string ignored;
    bool opened = OpenPathKey(base, key, ignored);
    SplitRegPath(base, root, subKey, ignored);
    if (opened) {
        EnumNames(key.Get(), names, true);
    }
    for (int i = 0; i < names.Count(); ++i) {
        DeleteRegKey(base + names[i]);
    }
    names.Clear();
    if (opened) {
        EnumNames(key.Get(), names, false);
    }
    for (int i = 0; i < names.Count(); ++i) {
        std::string valuePath = base + names[i];
        HKEY valueRoot = nullptr;
        std::string valueKey;
        std::string valueName;
        SplitRegPath(valuePath, valueRoot, valueKey, valueName);
        if (valueRoot == root && valueKey == subKey && valueName == names[i]) {
            RegDeleteValueA(key.Get(), names[i].c_str());
        } else {
            DeleteRegValue(valuePath);
        }
    }
    key.Close();
    HKEY parentRoot = nullptr;
    std::string parentKey;
    std::string ownName;
    std::string keyPath = path;
    while (!keyPath.empty() && keyPath.back() == '\\') {
        keyPath.pop_back(); // every trailing backslash: the key itself
    }
    SplitRegPath(keyPath, parentRoot, parentKey, ownName);
    if (!parentRoot) {
        return false;
    }
    TScopedRegKey parent;
    if (RegOpenKeyA(parentRoot, parentKey.c_str(), parent.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegDeleteKeyA(parent.Get(), ownName.c_str()) == ERROR_SUCCESS;
}
