// The key of a file in the ledger, the INI access check that both machines
// share, and the real machine, which carries each step out.
#include "ktLedgerMachine.h"

#include "ktFileUtils.h"
#include "ktHandle.h"
#include "ktIniCache.h"
#include "ktIniFile.h"
#include "ktRegIni.h"
#include "ktServerHost.h"
#include "ktText.h"

#include <vector>

namespace {

// A text no INI value holds: tells a missing key from an empty value.
const char kMissing[] = "\x01\x02missing\x02\x01";

std::string CurrentDirectory() {
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    return length > 0 && length <= MAX_PATH ? std::string(buffer, length) : std::string();
}

// The path's root ("C:", "\\server\share") and the rest, which begins
// with "\" unless the path is relative to the root's current folder.
void SplitRoot(const std::string& path, std::string& root, std::string& rest) {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        size_t server = path.find('\\', 2);
        size_t share = server == std::string::npos ? server : path.find('\\', server + 1);
        root = path.substr(0, share);
        rest = share == std::string::npos ? std::string() : path.substr(share);
    } else if (path.size() >= 2 && path[1] == ':') {
        root = path.substr(0, 2);
        rest = path.substr(2);
    } else {
        root.clear();
        rest = path;
    }
}

// GetFullPathNameA's forming of a path, by its documented rules, on the
// text alone.
std::string FullPathOf(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    std::string root;
    std::string rest;
    SplitRoot(path, root, rest);
    bool uncRoot = root.size() >= 2 && root[0] == '\\';
    if (!uncRoot && (rest.empty() || rest[0] != '\\')) {
        // Relative to a current folder: the process's, or the drive's root
        // when the current folder lies on another drive.
        std::string current = CurrentDirectory();
        std::string currentRoot;
        std::string currentRest;
        SplitRoot(current, currentRoot, currentRest);
        if (root.empty() || UpperCase(root) == UpperCase(currentRoot)) {
            root = currentRoot;
            rest = currentRest + "\\" + rest;
        } else {
            rest = "\\" + rest;
        }
    } else if (root.empty()) {
        std::string currentRest;
        SplitRoot(CurrentDirectory(), root, currentRest);
    }
    std::vector<std::string> names;
    for (size_t start = 0; start <= rest.size();) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        std::string name = rest.substr(start, end - start);
        if (name == "..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    if (!names.empty()) {
        std::string& last = names.back();
        size_t keep = last.find_last_not_of(". ");
        last.erase(keep == std::string::npos ? 0 : keep + 1);
        if (last.empty()) {
            names.pop_back();
        }
    }
    std::string result = root;
    for (const std::string& name : names) {
        result += "\\" + name;
    }
    return names.empty() ? result + "\\" : result;
}

// GetLongPathNameA's expansion where the path exists: only a short (8.3)
// name holds a "~", so no other path costs a look at the file system.
std::string LongPathOf(const std::string& full) {
    if (full.find('~') == std::string::npos) {
        return full;
    }
    std::string root;
    std::string rest;
    SplitRoot(full, root, rest);
    std::string result = root;
    for (size_t start = 1; start <= rest.size() && !rest.empty();) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        std::string name = rest.substr(start, end - start);
        if (name.find('~') != std::string::npos && name.find_first_of("*?") == std::string::npos) {
            WIN32_FIND_DATAA data;
            TScopedFind find(FindFirstFileA((result + "\\" + name).c_str(), &data));
            if (find) {
                name = data.cFileName;
            }
        }
        result += "\\" + name;
        start = end + 1;
    }
    return result;
}

class TRealMachine : public TLedgerMachine {
  public:
    bool IsOverlay() const override { return false; }

    TFileDeletion DeleteFile(const std::string& path, DWORD& error) override {
        error = 0;
        if (IsDeviceName(path)) {
            return TFileDeletion::NoFile;
        }
        if (RemoveFile(path)) {
            return TFileDeletion::Deleted;
        }
        error = GetLastError();
        return FileExists(path) ? TFileDeletion::Refused : TFileDeletion::NoFile;
    }

    bool ScheduleDelete(const std::string& path, DWORD& error) override {
        if (DeleteOnRestart(path)) {
            return true;
        }
        error = GetLastError();
        return false;
    }

    TFolderRemoval RemoveFolder(const std::string& path, DWORD& error) override {
        error = 0;
        if (RemoveDirectoryA(path.c_str())) {
            return TFolderRemoval::Removed;
        }
        error = GetLastError();
        if (!DirectoryExists(path)) {
            return TFolderRemoval::NoFolder;
        }
        if (error == ERROR_DIR_NOT_EMPTY) {
            return TFolderRemoval::NotEmpty;
        }
        // Some systems give another error for a folder that is not empty.
        WIN32_FIND_DATAA data;
        TScopedFind find(FindFirstFileA((AddBackslash(path) + "*").c_str(), &data));
        for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.Get(), &data)) {
            std::string name = data.cFileName;
            if (name != "." && name != "..") {
                return TFolderRemoval::NotEmpty;
            }
        }
        return TFolderRemoval::Refused;
    }

    bool FileThere(const std::string& path) override {
        return !IsDeviceName(path) && FileExists(path);
    }

    TRegValueRemoval RemoveValue(const std::string& path, LSTATUS& error) override {
        return RemoveRegValueEntry(path, error);
    }

    bool KeyThere(const std::string& path) override { return RegKeyExists(path); }

    bool DeleteKey(const std::string& path) override {
        // A key that went although the deletion reported failure (something
        // else removed it meanwhile) is gone all the same.
        return DeleteRegKey(path) || !RegKeyExists(path);
    }

    int32_t ReadCounter(const std::string& path, bool& exists) override {
        exists = RegValueExists(path);
        return exists ? ReadRegInteger(path, 1) : 1;
    }

    bool WriteCounter(const std::string& path, int32_t value) override {
        return WriteRegInteger(path, value);
    }

    bool DeleteValue(const std::string& path) override {
        return DeleteRegValue(path) || !RegValueExists(path);
    }

    bool IniKeyThere(const std::string& fileKey, const std::string& section,
                     const std::string& key) override {
        return GetIniFile(fileKey, false)->ReadString(section, key, kMissing) != kMissing;
    }

    void DeleteIniKey(const std::string& fileKey, const std::string& section,
                      const std::string& key) override {
        GetIniFile(fileKey, false)->DeleteKey(section, key);
    }

    bool RemoveFont(const std::string& name, BOOL(WINAPI* removeFont)(LPCSTR)) override {
        // A font the system has not loaded has nothing to release.
        return removeFont(name.c_str()) != FALSE;
    }

    void FontsChanged() override {
        // A window that does not answer must not hold the uninstall up.
        DWORD_PTR result = 0;
        SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }

    bool UnregisterServer(const std::string& path) override {
        SetLastError(ERROR_SUCCESS);
        return ::UnregisterServer(path);
    }
};

} // namespace

std::string LedgerFileKey(const std::string& path) {
    return UpperCase(LongPathOf(FullPathOf(path)));
}

TIniAccess TLedgerMachine::IniAccess(const std::string& fileKey, DWORD& error) {
    error = 0;
    DWORD attributes = GetFileAttributesA(fileKey.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return TIniAccess::Missing;
    }
    // The engine opens the file to write, which a read-only file refuses on
    // every system (a process with every right may pass the open, but the
    // write-back would still fail).
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        error = ERROR_ACCESS_DENIED;
        return TIniAccess::Unopenable;
    }
    {
        TScopedHandle handle(CreateFileA(fileKey.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle) {
            error = GetLastError();
            return TIniAccess::Unopenable;
        }
    }
    // The write-back puts a new file in the old one's place, which another
    // process holding the file without delete sharing prevents.
    TScopedHandle handle(CreateFileA(fileKey.c_str(), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        error = GetLastError();
        return TIniAccess::Stuck;
    }
    return TIniAccess::Writable;
}

std::unique_ptr<TLedgerMachine> NewRealMachine() {
    return std::make_unique<TRealMachine>();
}
