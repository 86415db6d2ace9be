// The ledger's registry, INI, font, OLE server and use-counter operations.
#include "ktLedger.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktIniFile.h"
#include "ktLedgerMachine.h"
#include "ktRegIni.h"
#include "ktServerHost.h"
#include "ktStrUtils.h"
#include "ktText.h"

#include <unordered_set>

namespace {

// Whether a full path names the library, or a name the system's loader
// looks up: a relative name.
bool IsFullPath(const std::string& path) {
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
            (path[1] == '\\' || path[1] == '/'));
}

// The report's message for a path whose first part is no root.
std::string UnknownRootText(const std::string& path) {
    std::string root = path.substr(0, path.find('\\'));
    return "Unknown registry root \"" + root +
           "\": a registry path begins with HKCR, HKCU, HKLM or HKU, so this names no key";
}

} // namespace

void TLedger::RemoveRegistryEntry(const std::string& entry, const std::string& path,
                                  bool keyEntry) {
    // A path whose root is none of the four names no key: nothing is
    // touched, and the report says why nothing went.
    if (!HasKnownRoot(path)) {
        TExtra extra;
        extra.message = UnknownRootText(path);
        Record(entry, path, TOutcome::Failed, extra, path);
        return;
    }
    // A bare root names a whole hive: nothing in it, its default value
    // included, is an installation's to remove.
    if (IsRootKeyPath(path)) {
        Record(entry, path, TOutcome::Declined);
        return;
    }
    // An entry of keys that ends in a backslash names the key itself.
    bool keyOnly = keyEntry && !path.empty() && path.back() == '\\';
    LSTATUS error = ERROR_SUCCESS;
    switch (keyOnly ? kRegNoValue : machine_->RemoveValue(path, error)) {
    case kRegValueRemoved:
        Record(entry, path, TOutcome::Removed);
        return;
    case kRegValueStays: {
        TExtra extra;
        extra.error = static_cast<DWORD>(error);
        Record(entry, path, TOutcome::Failed, extra, path);
        return;
    }
    case kRegNoValue:
        break;
    }
    if (!machine_->KeyThere(path)) {
        Record(entry, path, TOutcome::Absent);
        return;
    }
    if (IsProtectedRegKey(path)) {
        Record(entry, path, TOutcome::Declined);
        return;
    }
    if (machine_->DeleteKey(path)) {
        Record(entry, path, TOutcome::Removed);
        return;
    }
    Record(entry, path, TOutcome::Failed, TExtra(), path);
}

void TLedger::DeleteIniKey(const std::string& entry, const std::string& file,
                           const std::string& section, const std::string& key) {
    // Written back, the report's file would become an INI file.
    if (KeepsReport(entry, file)) {
        return;
    }
    // One engine per file, however the entries spell its name.
    const std::string fileKey = LedgerFileKey(file);
    auto known = iniAccess_.find(fileKey);
    if (known == iniAccess_.end()) {
        TIniFileAccess access;
        access.access = static_cast<int>(machine_->IniAccess(fileKey, access.error));
        known = iniAccess_.emplace(fileKey, access).first;
    }
    TExtra extra;
    extra.error = known->second.error;
    switch (static_cast<TIniAccess>(known->second.access)) {
    case TIniAccess::Missing:
        pendingIni_.push_back({entry, file, fileKey, TOutcome::Absent, 0});
        return;
    case TIniAccess::Unopenable:
        // As the engine would: the run ends with its open error.
        Record(entry, file, TOutcome::Failed, extra, NameOf(entry));
        throw EIniFileError(fileKey);
    case TIniAccess::Stuck:
    case TIniAccess::Writable:
        break;
    }
    // A file that cannot be replaced keeps its keys: nothing is changed.
    const bool stuck = static_cast<TIniAccess>(known->second.access) == TIniAccess::Stuck;
    bool exists = false;
    try {
        exists = machine_->IniKeyThere(fileKey, section, key);
        if (exists && !stuck) {
            machine_->DeleteIniKey(fileKey, section, key);
        }
    } catch (const EIniFileError&) {
        // The file changed since it was looked at.
        extra.error = GetLastError();
        Record(entry, file, TOutcome::Failed, extra, NameOf(entry));
        throw;
    }
    TOutcome outcome = !exists ? TOutcome::Absent : stuck ? TOutcome::Failed : TOutcome::Removed;
    pendingIni_.push_back({entry, file, fileKey, outcome, exists ? extra.error : 0});
}

void TLedger::IniWrittenBack(const std::vector<std::string>& failedFiles) {
    std::unordered_set<std::string> failed(failedFiles.begin(), failedFiles.end());
    for (const TPendingIni& pending : pendingIni_) {
        TOutcome outcome = pending.outcome;
        if (outcome == TOutcome::Removed && failed.count(pending.fileKey) != 0) {
            outcome = TOutcome::Failed;
        }
        TExtra extra;
        extra.error = pending.error;
        Record(pending.entry, pending.file, outcome, extra,
               outcome == TOutcome::Failed ? NameOf(pending.entry) : std::string());
    }
    pendingIni_.clear();
    iniAccess_.clear();
}

void TLedger::RemoveFont(const std::string& entry, const std::string& name,
                         BOOL(WINAPI* removeFont)(LPCSTR)) {
    Record(entry, name,
           machine_->RemoveFont(name, removeFont) ? TOutcome::Removed : TOutcome::Absent);
}

void TLedger::FontsChanged() {
    machine_->FontsChanged();
}

void TLedger::UnregisterServerEntry(const std::string& entry, const std::string& path) {
    TExtra extra;
    // No library file there: nothing to load, in a run or a preview. A
    // relative name is the loader's to look up.
    if (path.empty() || IsDeviceName(path) || path.back() == '\\' || path.back() == '/' ||
        (IsFullPath(path) && !machine_->FileThere(path))) {
        TServerCall noLibrary;
        noLibrary.result = TServerCallResult::NotLoaded;
        noLibrary.error = ERROR_MOD_NOT_FOUND;
        extra.error = noLibrary.error;
        extra.message = ServerCallText(noLibrary);
        Record(entry, path, TOutcome::UnregisterFailed, extra);
        return;
    }
    TServerCall call;
    try {
        call = machine_->UnregisterServer(path);
    } catch (const EServerFault& fault) {
        // The run ends with the fault; the report names it at its entry,
        // which is all an unattended run has to show for it.
        extra.message = fault.what();
        Record(entry, path, TOutcome::UnregisterFailed, extra);
        throw;
    }
    if (call.result == TServerCallResult::Called) {
        Record(entry, path, TOutcome::Unregistered);
        return;
    }
    // The host's own error, with what it was that failed (a server that
    // hangs is ended, and the run goes on).
    extra.error = call.error;
    extra.message = ServerCallText(call);
    Record(entry, path, TOutcome::UnregisterFailed, extra);
}

int32_t TLedger::ReadCounter(const std::string& counterPath, bool& exists) const {
    return machine_->ReadCounter(counterPath, exists);
}

void TLedger::DecrementCounter(const std::string& entry, const std::string& counterPath,
                               int32_t before) {
    TExtra extra;
    extra.counters = true;
    extra.before = before;
    extra.after = before - 1;
    kept_[UpperCase(NameOf(entry))] = TOutcome::KeptShared;
    if (machine_->WriteCounter(counterPath, before - 1)) {
        Record(entry, counterPath, TOutcome::CounterDecremented, extra);
        return;
    }
    extra.after = before;
    Record(entry, counterPath, TOutcome::Failed, extra);
}

void TLedger::DeleteCounter(const std::string& entry, const std::string& counterPath,
                            int32_t before, bool existed) {
    if (!existed) {
        Record(entry, counterPath, TOutcome::Absent);
        return;
    }
    TExtra extra;
    extra.counters = true;
    extra.before = before;
    extra.after = 0;
    if (machine_->DeleteValue(counterPath)) {
        Record(entry, counterPath, TOutcome::Removed, extra);
        return;
    }
    extra.after = before;
    Record(entry, counterPath, TOutcome::Failed, extra);
}

void TLedger::KeepShared(const std::string& entry, const std::string& counterPath, int32_t before,
                         bool byAnswer) {
    TOutcome outcome = byAnswer ? TOutcome::KeptByAnswer : TOutcome::KeptShared;
    kept_[UpperCase(NameOf(entry))] = outcome;
    TExtra extra;
    extra.counters = true;
    extra.before = before;
    extra.after = before;
    Record(entry, counterPath, outcome, extra);
}

void TLedger::SkipKeptShared(const std::string& entry, const std::string& name) {
    auto found = kept_.find(UpperCase(name));
    Record(entry, name, found != kept_.end() ? found->second : TOutcome::KeptShared);
}
