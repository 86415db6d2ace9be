// The overlay: each step answered as the real machine would answer it on the
// machine as the run would have left it by then, with nothing changed.
#include "ktLedgerMachine.h"
#include "ktPlatform.h"
#include "ktMoveAside.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktHandle.h"
#include "ktIniCache.h"
#include "ktIniFile.h"
#include "ktText.h"

#include <unordered_map>
#include <unordered_set>

namespace {

const char kMissing[] = "\x01\x02missing\x02\x01";

// Would the system refuse deleting the file or folder now? An open with the
// right a deletion needs and every sharing allowed fails exactly when
// another process holds it without delete sharing (ERROR_SHARING_VIOLATION)
// or the access rights forbid the deletion (ERROR_ACCESS_DENIED; for a file
// also when it is read-only), and changes nothing. 0 when the open passes.
DWORD DeletionRefusal(const std::string& path, bool folder) {
    TScopedHandle handle(CreateFileA(path.c_str(), DELETE, ShareAll(), nullptr, OPEN_EXISTING,
                                     folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    if (handle) {
        return 0;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? error : 0;
}

// The refusal of the file's deletion as the run meets it: the run clears a
// read-only attribute before its second try, so a read-only file's refused
// open says nothing about the rights (they are beyond the preview there).
DWORD FileDeletionRefusal(const std::string& path) {
    DWORD refusal = DeletionRefusal(path, false);
    if (refusal == ERROR_ACCESS_DENIED) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            return 0;
        }
    }
    return refusal;
}

// Would a delete be refused while a rename goes through? So it is for a
// running program or a loaded library, which nobody may open for writing.
bool FileRunning(const std::string& path) {
    TScopedHandle handle(CreateFileA(path.c_str(), GENERIC_WRITE, ShareAll(), nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return !handle && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string ParentFolder(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string ChildKey(const std::string& folderKey, const std::string& name) {
    return folderKey.back() == '\\' ? folderKey + UpperCase(name)
                                    : folderKey + "\\" + UpperCase(name);
}

// The key of a registry value as the overlay remembers it: its key's
// canonical form and the value's name, upper-cased.
std::string ValueKey(const std::string& path) {
    return CanonicalRegKey(ExtractRegKeyPath(path)) + "\n" + UpperCase(ExtractRegValueName(path));
}

class TOverlayMachine : public TLedgerMachine {
  public:
    bool IsOverlay() const override { return true; }

    TFileDeletion DeleteFile(const std::string& path, DWORD& error) override {
        error = 0;
        if (!FileThere(path)) {
            return TFileDeletion::NoFile;
        }
        error = FileDeletionRefusal(path);
        if (error != 0) {
            return TFileDeletion::Refused;
        }
        // A running program or loaded library: no one may write it, and it
        // cannot be deleted (though it can be renamed).
        if (FileRunning(path)) {
            error = ERROR_ACCESS_DENIED;
            return TFileDeletion::Refused;
        }
        error = 0;
        gone_.insert(LedgerFileKey(path));
        return TFileDeletion::Deleted;
    }

    bool ScheduleDelete(const std::string& path, DWORD& error, std::string& movedTo) override {
        // On the 95 family the file goes into the restart-time list, which
        // the run's engine opens to write: one it cannot open ends the run
        // with the engine's open error.
        if (!IsNtFamily() && RestartListAccess() == TIniAccess::Unopenable) {
            SetLastError(restartListError_);
            throw EIniFileError(UpperCase(RestartListFile()));
        }
        // A file held without delete sharing (or whose rights forbid its
        // renaming) stays under its name until the restart: a folder that
        // holds it is not empty for the rest of the run. A running program
        // or loaded library is moved aside on the NT family: its name is
        // free, and its folder holds the moved file.
        if (IsNtFamily() && FileDeletionRefusal(path) == 0 && FileRunning(path)) {
            movedTo = MoveAsideCandidate(path);
            gone_.insert(LedgerFileKey(path));
            asideDirs_.insert(LedgerFileKey(ParentFolder(path)));
        }
        (void)error;
        return true;
    }

    // A list that another program holds without delete sharing cannot be
    // replaced, as any INI file; a disk that fills up is beyond the preview.
    bool WriteBackRestartList(DWORD& error) override {
        error = 0;
        if (RestartListAccess() == TIniAccess::Stuck) {
            error = restartListError_;
            return false;
        }
        return true;
    }

    bool ScheduleFolderRemoval(const std::string& path) override {
        std::string key = LedgerFileKey(path);
        if (!IsNtFamily() || asideDirs_.count(key) == 0 || !AllChildrenGone(path, key)) {
            return false;
        }
        // Gone for the rest of the run; its parent now holds a folder that
        // goes at restart.
        gone_.insert(key);
        asideDirs_.insert(LedgerFileKey(ParentFolder(RemoveBackslash(path))));
        return true;
    }

    TFolderRemoval RemoveFolder(const std::string& path, DWORD& error) override {
        error = 0;
        std::string key = LedgerFileKey(path);
        if (!DirectoryExists(path) || Gone(key)) {
            error = ERROR_FILE_NOT_FOUND;
            return TFolderRemoval::NoFolder;
        }
        // A folder files were moved aside into holds them until the restart.
        if (asideDirs_.count(key) != 0 || !AllChildrenGone(path, key)) {
            error = ERROR_DIR_NOT_EMPTY;
            return TFolderRemoval::NotEmpty;
        }
        // Empty by then, and held open by another process without delete
        // sharing, or kept by its access rights.
        error = DeletionRefusal(path, true);
        if (error != 0) {
            return TFolderRemoval::Refused;
        }
        gone_.insert(key);
        return TFolderRemoval::Removed;
    }

    bool FileThere(const std::string& path) override {
        return !IsDeviceName(path) && FileExists(path) && !Gone(LedgerFileKey(path));
    }

    TRegValueRemoval RemoveValue(const std::string& path, LSTATUS& error) override {
        error = ERROR_SUCCESS;
        if (!ValueThere(path)) {
            return kRegNoValue;
        }
        if (!RegValueDeletable(path)) {
            error = ERROR_ACCESS_DENIED;
            return kRegValueStays;
        }
        goneValues_.insert(ValueKey(path));
        return kRegValueRemoved;
    }

    bool KeyThere(const std::string& path) override {
        return RegKeyExists(path) && !KeyGone(CanonicalRegKey(path));
    }

    bool DeleteKey(const std::string& path) override {
        if (!RegKeyDeletable(path)) {
            return false;
        }
        goneKeys_.insert(CanonicalRegKey(path));
        return true;
    }

    int32_t ReadCounter(const std::string& path, bool& exists) override {
        exists = ValueThere(path);
        if (!exists) {
            return 1;
        }
        auto lowered = counters_.find(ValueKey(path));
        return lowered != counters_.end() ? lowered->second : ReadRegInteger(path, 1);
    }

    bool WriteCounter(const std::string& path, int32_t value) override {
        // The counter exists (only a count above 1 is lowered), so its key
        // does: writing it needs the right to set values in that key.
        if (!RegValueDeletable(path)) {
            return false;
        }
        counters_[ValueKey(path)] = value;
        return true;
    }

    bool DeleteValue(const std::string& path) override {
        if (!ValueThere(path)) {
            return true;
        }
        if (!RegValueDeletable(path)) {
            return false;
        }
        goneValues_.insert(ValueKey(path));
        return true;
    }

    bool IniKeyThere(const std::string& fileKey, const std::string& section,
                     const std::string& key) override {
        // A read-only engine: the preview never writes, nor creates a file.
        return goneIni_.count(IniEntryKey(fileKey, section, key)) == 0 &&
               GetIniFile(fileKey, true, TIniRules::Profile)->ReadString(section, key, kMissing) !=
                   kMissing;
    }

    void DeleteIniKey(const std::string& fileKey, const std::string& section,
                      const std::string& key) override {
        goneIni_.insert(IniEntryKey(fileKey, section, key));
    }

    bool RemoveFont(const std::string& name, BOOL(WINAPI*)(LPCSTR)) override {
        return FileThere(name);
    }

    void FontsChanged() override {}

    TServerCall UnregisterServer(const std::string&) override {
        // Loading the library would run its code.
        TServerCall call;
        call.result = TServerCallResult::Called;
        return call;
    }

  private:
    // How the run's engine would take the 95 family's restart-time list,
    // asked once.
    TIniAccess RestartListAccess() {
        if (restartListAccess_ < 0) {
            restartListAccess_ =
                static_cast<int>(IniAccess(LedgerFileKey(RestartListFile()), restartListError_));
        }
        return static_cast<TIniAccess>(restartListAccess_);
    }
    int restartListAccess_ = -1;
    DWORD restartListError_ = 0;

    // True when everything in the folder is gone by now.
    bool AllChildrenGone(const std::string& path, const std::string& key) const {
        WIN32_FIND_DATAA data;
        TScopedFind find(FindFirstFileA((AddBackslash(path) + "*").c_str(), &data));
        for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.Get(), &data)) {
            std::string name = data.cFileName;
            if (name != "." && name != ".." && gone_.count(ChildKey(key, name)) == 0) {
                return false;
            }
        }
        return true;
    }

    // Folders that hold files moved aside, or folders going at restart.
    std::unordered_set<std::string> asideDirs_;
    // A file or folder is gone when it or a folder above it is.
    bool Gone(std::string key) const {
        if (gone_.empty()) {
            return false;
        }
        for (;;) {
            if (gone_.count(key) != 0) {
                return true;
            }
            size_t slash = key.rfind('\\');
            if (slash == std::string::npos || slash + 1 == key.size()) {
                return false;
            }
            key.resize(slash);
        }
    }

    bool KeyGone(std::string key) const {
        if (goneKeys_.empty()) {
            return false;
        }
        for (;;) {
            if (goneKeys_.count(key) != 0) {
                return true;
            }
            size_t slash = key.rfind('\\');
            if (slash == std::string::npos) {
                return false;
            }
            key.resize(slash);
        }
    }

    bool ValueThere(const std::string& path) {
        return RegValueExists(path) && goneValues_.count(ValueKey(path)) == 0 &&
               !KeyGone(CanonicalRegKey(ExtractRegKeyPath(path)));
    }

    static std::string IniEntryKey(const std::string& fileKey, const std::string& section,
                                   const std::string& key) {
        return fileKey + "\n" + UpperCase(section) + "\n" + UpperCase(key);
    }

    std::unordered_set<std::string> gone_;              // files and folders, by LedgerFileKey
    std::unordered_set<std::string> goneKeys_;          // registry keys, canonical
    std::unordered_set<std::string> goneValues_;        // registry values, by ValueKey
    std::unordered_map<std::string, int32_t> counters_; // use counts as lowered
    std::unordered_set<std::string> goneIni_;           // INI entries
};

} // namespace

std::unique_ptr<TLedgerMachine> NewOverlayMachine() {
    return std::make_unique<TOverlayMachine>();
}
