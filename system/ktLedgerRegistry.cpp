// The ledger's registry, INI, font, OLE server and use-counter operations.
#include "ktLedger.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktIniFile.h"
#include "ktIniCache.h"
#include "ktRegIni.h"
#include "ktStrUtils.h"
#include "ktStringList.h"
#include "ktServerHost.h"
#include "ktText.h"

namespace {

// The key and value a path's value reading names, as the preview tracks it.
std::string ValueId(const std::string& path) {
    std::string key = CanonicalRegKey(ExtractRegKeyPath(path));
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(path, root, subKey, valueName);
    return key + "\n" + UpperCase(valueName);
}

// A text no INI value holds: tells a missing key from an empty value.
const char kMissing[] = "\x01\x02missing\x02\x01";

} // namespace

bool TLedger::PreviewRegKeyGone(const std::string& canonicalKey) const {
    if (goneKeys_.empty()) {
        return false;
    }
    std::string key = canonicalKey;
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

void TLedger::PredictRegistryEntry(const std::string& entry, const std::string& path) {
    std::string valueKey = CanonicalRegKey(ExtractRegKeyPath(path));
    std::string valueId = ValueId(path);
    if (RegValueExists(path) && goneValues_.count(valueId) == 0 && !PreviewRegKeyGone(valueKey)) {
        if (!RegValueDeletable(path)) {
            TExtra extra;
            extra.error = ERROR_ACCESS_DENIED;
            Record(entry, path, TOutcome::Failed, extra);
            return;
        }
        goneValues_.insert(valueId);
        Record(entry, path, TOutcome::Removed);
        return;
    }
    std::string key = CanonicalRegKey(path);
    if (!RegKeyExists(path) || PreviewRegKeyGone(key)) {
        Record(entry, path, TOutcome::Absent);
        return;
    }
    if (IsProtectedRegKey(path)) {
        Record(entry, path, TOutcome::Declined);
        return;
    }
    if (!RegKeyDeletable(path)) {
        Record(entry, path, TOutcome::Failed);
        return;
    }
    goneKeys_.insert(key);
    Record(entry, path, TOutcome::Removed);
}

void TLedger::RemoveRegistryEntry(const std::string& entry, const std::string& path) {
    // A bare root names a whole hive: nothing in it, its default value
    // included, is an installation's to remove.
    if (IsRootKeyPath(path)) {
        Record(entry, path, TOutcome::Declined);
        return;
    }
    if (preview_) {
        PredictRegistryEntry(entry, path);
        return;
    }
    LSTATUS error = ERROR_SUCCESS;
    switch (RemoveRegValueEntry(path, error)) {
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
    if (!RegKeyExists(path)) {
        Record(entry, path, TOutcome::Absent);
        return;
    }
    if (IsProtectedRegKey(path)) {
        Record(entry, path, TOutcome::Declined);
        return;
    }
    // A key that went although the deletion reported failure (something
    // else removed it meanwhile) is gone all the same.
    if (DeleteRegKey(path) || !RegKeyExists(path)) {
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
    // A file that cannot be opened ends the run; the report says at which
    // entry.
    TktIniFile* engine = nullptr;
    try {
        // A read-only engine in preview: it never writes, nor creates a file.
        engine = GetIniFile(file, preview_);
    } catch (const std::exception& error) {
        RecordRaised(entry, file, error);
        throw;
    }
    bool exists = engine->ReadString(section, key, kMissing) != kMissing;
    if (preview_) {
        Record(entry, file, exists ? TOutcome::Removed : TOutcome::Absent);
        return;
    }
    engine->DeleteKey(section, key);
    pendingIni_.push_back({entry, file, UpperCase(file), exists});
}

void TLedger::IniWrittenBack(const std::vector<std::string>& failedFiles) {
    std::unordered_set<std::string> failed;
    for (const std::string& file : failedFiles) {
        failed.insert(UpperCase(file));
    }
    for (const TPendingIni& pending : pendingIni_) {
        if (!pending.existed) {
            Record(pending.entry, pending.file, TOutcome::Absent);
        } else if (failed.count(pending.fileUpper) != 0) {
            Record(pending.entry, pending.file, TOutcome::Failed, TExtra(), NameOf(pending.entry));
        } else {
            Record(pending.entry, pending.file, TOutcome::Removed);
        }
    }
    pendingIni_.clear();
}

void TLedger::RemoveFont(const std::string& entry, const std::string& name,
                         BOOL(WINAPI* removeFont)(LPCSTR)) {
    if (preview_) {
        Record(entry, name, FileExists(name) ? TOutcome::Removed : TOutcome::Absent);
        return;
    }
    // A font the system has not loaded has nothing to release.
    Record(entry, name, removeFont(name.c_str()) ? TOutcome::Removed : TOutcome::Absent);
}

void TLedger::UnregisterServerEntry(const std::string& entry, const std::string& path) {
    if (preview_) {
        // Loading the library would run its code: the file's presence is
        // all the preview goes by.
        Record(entry, path, FileExists(path) ? TOutcome::Unregistered : TOutcome::UnregisterFailed);
        return;
    }
    SetLastError(ERROR_SUCCESS);
    bool called = false;
    try {
        called = UnregisterServer(path);
    } catch (const EServerFault& fault) {
        // The run ends with the fault; the report names it at its entry,
        // which is all an unattended run has to show for it.
        TExtra extra;
        extra.message = fault.what();
        Record(entry, path, TOutcome::UnregisterFailed, extra);
        throw;
    }
    if (called) {
        Record(entry, path, TOutcome::Unregistered);
        return;
    }
    TExtra extra;
    extra.error = GetLastError();
    Record(entry, path, TOutcome::UnregisterFailed, extra);
}

int32_t TLedger::ReadCounter(const std::string& counterPath, bool& exists) const {
    exists =
        RegValueExists(counterPath) && (!preview_ || goneValues_.count(ValueId(counterPath)) == 0);
    return exists ? ReadRegInteger(counterPath, 1) : 1;
}

void TLedger::DecrementCounter(const std::string& entry, const std::string& counterPath,
                               int32_t before) {
    TExtra extra;
    extra.counters = true;
    extra.before = before;
    extra.after = before - 1;
    kept_[UpperCase(NameOf(entry))] = TOutcome::KeptShared;
    if (preview_ || WriteRegInteger(counterPath, before - 1)) {
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
    if (preview_) {
        goneValues_.insert(ValueId(counterPath));
        Record(entry, counterPath, TOutcome::Removed, extra);
        return;
    }
    if (DeleteRegValue(counterPath) || !RegValueExists(counterPath)) {
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
