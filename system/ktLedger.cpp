// The ledger's record (report lines, tallies, items left over) and its file,
// directory and program operations. Registry, INI, font, server and counter
// operations are in ktLedgerRegistry.cpp.
#include "ktLedger.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktHandle.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktShell.h"
#include "ktStrUtils.h"
#include "ktText.h"
#include "ktSystemText.h"

namespace {

const char* const kOutcomeNames[kOutcomeCount] = {
    "removed",
    "absent",
    "scheduled-at-restart",
    "kept-shared",
    "counter-decremented",
    "kept-by-answer",
    "unregistered",
    "unregister-failed",
    "program-run",
    "program-not-started",
    "declined",
    "not-empty",
    "failed",
};

// Would deleting the file now be refused because another process holds it?
// An open for deletion with every sharing allowed fails exactly then, and
// changes nothing.
bool FileInUse(const std::string& path) {
    TScopedHandle handle(CreateFileA(path.c_str(), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return !handle && GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

const char* OutcomeName(TOutcome outcome) {
    return kOutcomeNames[static_cast<int>(outcome)];
}

TLedger& Ledger() {
    static TLedger ledger;
    return ledger;
}

void TLedger::Start(bool preview, TReportFile* report) {
    *this = TLedger();
    preview_ = preview;
    report_ = report;
}

void TLedger::Record(const std::string& entry, const std::string& target, TOutcome outcome,
                     const TExtra& extra, const std::string& leftOverItem) {
    ++counts_[static_cast<int>(outcome)];
    if (!leftOverItem.empty() && !preview_) {
        if (leftOver_.size() < kLeftOverShown) {
            leftOver_.push_back(leftOverItem);
        }
        ++leftOverCount_;
    }
    if (report_ == nullptr) {
        return;
    }
    TJsonObject line;
    line.Text("type", "entry").Text("phase", phase_).Text("entry", entry);
    if (!target.empty() && target != entry && target != NameOf(entry)) {
        line.Text("target", target);
    }
    std::string outcomeName = std::string(preview_ ? "would-" : "") + OutcomeName(outcome);
    line.Text("outcome", outcomeName);
    if (extra.counters) {
        line.Number("before", extra.before).Number("after", extra.after);
    }
    if (extra.hasExit) {
        line.Number("exit", extra.exitCode);
    }
    if (extra.error != 0) {
        line.Number("error", extra.error);
    }
    if (!extra.message.empty()) {
        line.Text("message", extra.message);
    } else if (extra.error != 0) {
        line.Text("message", SystemErrorText(extra.error));
    }
    report_->WriteEntry(line.Done(), outcomeName);
}

bool TLedger::KeepsReport(const std::string& entry, const std::string& path) {
    if (report_ == nullptr || !report_->IsThisFile(path)) {
        return false;
    }
    TExtra extra;
    extra.message = report_->KeptMessage();
    Record(entry, path, TOutcome::Declined, extra);
    return true;
}

void TLedger::RecordRaised(const std::string& entry, const std::string& target,
                           const std::exception& error) {
    TExtra extra;
    extra.error = GetLastError();
    extra.message = error.what();
    std::string reason = extra.error != 0 ? SystemErrorText(extra.error) : std::string();
    if (!reason.empty()) {
        extra.message += ": " + reason;
    }
    Record(entry, target, TOutcome::Failed, extra, target);
}

std::string TLedger::CountsJson() const {
    std::string json = "{";
    for (int i = 0; i < kOutcomeCount; ++i) {
        if (counts_[i] == 0) {
            continue;
        }
        json += json.size() > 1 ? "," : "";
        json += preview_ ? "\"would-" : "\"";
        json += kOutcomeNames[i];
        json += "\":" + std::to_string(counts_[i]);
    }
    return json + "}";
}

// ---- Preview: the machine as the run would have left it so far ----------

bool TLedger::PreviewFileExists(const std::string& path) const {
    return FileExists(path) && goneFiles_.count(NormalizeFilePath(path)) == 0;
}

bool TLedger::PreviewDirectoryExists(const std::string& path) const {
    return DirectoryExists(path) && goneFiles_.count(NormalizeFilePath(path)) == 0;
}

bool TLedger::PreviewDirectoryEmpty(const std::string& path) const {
    std::string base = AddBackslash(path);
    std::string normalizedBase = NormalizeFilePath(path) + "\\";
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA((base + "*").c_str(), &data));
    if (!find) {
        return true;
    }
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if (goneFiles_.count(normalizedBase + UpperCase(name)) == 0) {
            return false;
        }
    } while (FindNextFileA(find.Get(), &data));
    return true;
}

// ---- Files and directories ------------------------------------------------

void TLedger::DeleteFileNow(const std::string& entry, const std::string& path) {
    if (KeepsReport(entry, path)) {
        return;
    }
    if (preview_) {
        if (!PreviewFileExists(path)) {
            Record(entry, path, TOutcome::Absent);
        } else if (FileInUse(path)) {
            TExtra extra;
            extra.error = ERROR_SHARING_VIOLATION;
            Record(entry, path, TOutcome::Failed, extra);
        } else {
            goneFiles_.insert(NormalizeFilePath(path));
            Record(entry, path, TOutcome::Removed);
        }
        return;
    }
    if (RemoveFile(path)) {
        Record(entry, path, TOutcome::Removed);
        return;
    }
    TExtra extra;
    extra.error = GetLastError();
    if (!FileExists(path)) {
        Record(entry, path, TOutcome::Absent);
        return;
    }
    Record(entry, path, TOutcome::Failed, extra, path);
}

void TLedger::DeleteFileOrSchedule(const std::string& entry, const std::string& path) {
    if (KeepsReport(entry, path)) {
        return;
    }
    if (preview_) {
        if (!PreviewFileExists(path)) {
            Record(entry, path, TOutcome::Absent);
            return;
        }
        goneFiles_.insert(NormalizeFilePath(path));
        if (FileInUse(path)) {
            TExtra extra;
            extra.error = ERROR_SHARING_VIOLATION;
            Record(entry, path, TOutcome::ScheduledAtRestart, extra);
        } else {
            Record(entry, path, TOutcome::Removed);
        }
        return;
    }
    if (RemoveFile(path)) {
        Record(entry, path, TOutcome::Removed);
        return;
    }
    TExtra extra;
    extra.error = GetLastError();
    // A file that is gone already needs nothing at restart.
    if (!FileExists(path)) {
        Record(entry, path, TOutcome::Absent);
        return;
    }
    bool scheduled = false;
    try {
        scheduled = DeleteOnRestart(path);
    } catch (const std::exception& error) {
        // wininit.ini cannot be opened: the run ends, and the report says
        // at which entry.
        RecordRaised(entry, path, error);
        throw;
    }
    if (scheduled) {
        Record(entry, path, TOutcome::ScheduledAtRestart, extra);
        return;
    }
    extra.error = GetLastError();
    Record(entry, path, TOutcome::Failed, extra, path);
}

void TLedger::DeleteInstallLog(const std::string& path) {
    std::string phase = phase_;
    phase_ = "InstallLog";
    if (logRecorded_) {
        // Tried once already: a second try changes nothing in the record.
        if (!preview_) {
            RemoveFile(path);
        }
    } else {
        logRecorded_ = true;
        if (preview_) {
            bool exists = PreviewFileExists(path);
            goneFiles_.insert(NormalizeFilePath(path));
            Record(path, path, exists ? TOutcome::Removed : TOutcome::Absent);
        } else if (RemoveFile(path)) {
            Record(path, path, TOutcome::Removed);
        } else {
            TExtra extra;
            extra.error = GetLastError();
            if (FileExists(path)) {
                Record(path, path, TOutcome::Failed, extra, path);
            } else {
                Record(path, path, TOutcome::Absent);
            }
        }
    }
    phase_ = phase;
}

bool TLedger::RemoveDirectoryEntry(const std::string& entry, const std::string& path,
                                   bool lastTry) {
    if (IsProtectedDirectory(path)) {
        Record(entry, path, TOutcome::Declined);
        return true;
    }
    if (preview_) {
        if (!PreviewDirectoryExists(path)) {
            Record(entry, path, TOutcome::Absent);
        } else if (!PreviewDirectoryEmpty(path)) {
            if (!lastTry) {
                return false;
            }
            TExtra extra;
            extra.error = ERROR_DIR_NOT_EMPTY;
            Record(entry, path, TOutcome::NotEmpty, extra);
        } else {
            goneFiles_.insert(NormalizeFilePath(path));
            Record(entry, path, TOutcome::Removed);
        }
        return true;
    }
    if (RemoveDirectoryA(path.c_str())) {
        Record(entry, path, TOutcome::Removed);
        return true;
    }
    TExtra extra;
    extra.error = GetLastError();
    if (!DirectoryExists(path)) {
        Record(entry, path, TOutcome::Absent);
    } else if (!lastTry) {
        return false;
    } else if (extra.error == ERROR_DIR_NOT_EMPTY || !PreviewDirectoryEmpty(path)) {
        Record(entry, path, TOutcome::NotEmpty, extra, path);
    } else {
        Record(entry, path, TOutcome::Failed, extra, path);
    }
    return true;
}

// ---- Programs -------------------------------------------------------------

void TLedger::ProgramMissing(const std::string& entry, const std::string& file) {
    Record(entry, file, TOutcome::Absent);
}

int TLedger::RunProgram(const std::string& entry, HWND owner, const std::string& file,
                        const std::string& parameters, const std::string& directory, int show,
                        bool noUi) {
    if (preview_) {
        Record(entry, file, TOutcome::ProgramRun);
        return 0;
    }
    bool started = false;
    DWORD error = 0;
    int code = ExecAndWait(owner, file, parameters, directory, show, noUi ? SEE_MASK_FLAG_NO_UI : 0,
                           &started, &error);
    TExtra extra;
    if (started) {
        extra.hasExit = true;
        extra.exitCode = code;
        Record(entry, file, TOutcome::ProgramRun, extra);
    } else {
        extra.error = error;
        Record(entry, file, TOutcome::ProgramNotStarted, extra);
    }
    return code;
}
