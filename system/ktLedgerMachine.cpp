// The key of a file in the ledger, the INI access check that both machines
// share, and the real machine, which carries each step out.
#include "ktLedgerMachine.h"

#include "ktGuardRails.h"
#include "ktMoveAside.h"
#include "ktPlatform.h"
#include "ktPathNames.h"

#include "ktFileUtils.h"
#include "ktFileUtilsRemoval.h"
#include "ktHandle.h"
#include "ktIniCache.h"
#include "ktIniFile.h"
#include "ktRegIni.h"
#include "ktSafeWrite.h"
#include "ktServerHost.h"
#include "ktText.h"

#include <unordered_set>
#include <vector>

namespace {

// A text no INI value holds: tells a missing key from an empty value.
const char kMissing[] = "\x01\x02missing\x02\x01";

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

    bool ScheduleDelete(const std::string& path, DWORD& error, std::string& movedTo) override {
        if (DeleteOnRestart(path, &movedTo)) {
            return true;
        }
        error = GetLastError();
        return false;
    }

    bool WriteBackRestartList(DWORD& error) override {
        error = 0;
        if (FreeIniFile(RestartListFile())) {
            return true;
        }
        error = GetLastError();
        return false;
    }

    bool ScheduleFolderRemoval(const std::string& path) override {
        if (!IsNtFamily() || !HoldsOnlyMovedAside(path, scheduledDirs_) ||
            !RemoveDirectoryOnRestart(path)) {
            return false;
        }
        scheduledDirs_.insert(NormalizeFilePath(path));
        return true;
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
        return GetIniFile(fileKey, false, TIniRules::Profile)->ReadString(section, key, kMissing) !=
               kMissing;
    }

    void DeleteIniKey(const std::string& fileKey, const std::string& section,
                      const std::string& key) override {
        GetIniFile(fileKey, false, TIniRules::Profile)->DeleteKey(section, key);
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

    TServerCall UnregisterServer(const std::string& path) override {
        return ::UnregisterServer(path);
    }

  private:
    // Folders scheduled for removal at restart (NormalizeFilePath).
    std::unordered_set<std::string> scheduledDirs_;
};

} // namespace

std::string LedgerFileKey(const std::string& path) {
    std::string key = UpperCase(NormalizedPath(path));
    // A folder named with a trailing separator is the same folder ("C:\"
    // keeps its own).
    if (key.size() > 3 && key.back() == '\\') {
        key.pop_back();
    }
    return key;
}

TIniAccess TLedgerMachine::IniAccess(const std::string& fileKey, DWORD& error) {
    error = 0;
    // A write-back of ours that a crash cut short between its renames is
    // finished first, as the writable engine would on loading the file; the
    // overlay changes nothing, and sees the file as it is.
    if (!IsOverlay()) {
        MendInterruptedReplace(fileKey);
    }
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
    // process holding the file without delete sharing prevents (the 95
    // family, which knows no delete sharing, is asked only that no other
    // open forbids reading or writing).
    TScopedHandle handle(CreateFileA(fileKey.c_str(), DELETE, ShareAll(), nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        error = GetLastError();
        return TIniAccess::Stuck;
    }
    return TIniAccess::Writable;
}

std::unique_ptr<TLedgerMachine> NewRealMachine() {
    return std::make_unique<TRealMachine>();
}
