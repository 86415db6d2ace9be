// The ledger's record (report lines, tallies, items left over) and its file,
// directory and program operations. Registry, INI, font, server and counter
// operations are in ktLedgerRegistry.cpp.
#include "ktLedger.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktJson.h"
#include "ktLedgerMachine.h"
#include "ktPlatform.h"
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
    "closed",
};

} // namespace

const char* OutcomeName(TOutcome outcome) {
    return kOutcomeNames[static_cast<int>(outcome)];
}

TLedger& Ledger() {
    static TLedger ledger;
    return ledger;
}

TLedger::TLedger() : machine_(NewRealMachine()) {}
TLedger::~TLedger() = default;
TLedger::TLedger(TLedger&&) noexcept = default;
TLedger& TLedger::operator=(TLedger&&) noexcept = default;

void TLedger::Start(bool preview, TReportFile* report) {
    *this = TLedger();
    preview_ = preview;
    report_ = report;
    if (preview) {
        machine_ = NewOverlayMachine();
    }
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
    if (report_ != nullptr) {
        WriteEntryLine(entry, target, outcome, extra);
    }
    if (afterEntry_ != nullptr) {
        afterEntry_();
    }
}

void TLedger::WriteEntryLine(const std::string& entry, const std::string& target, TOutcome outcome,
                             const TExtra& extra) {
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
    if (!extra.movedTo.empty()) {
        line.Text("moved_to", extra.movedTo);
    }
    if (!extra.heldBy.empty()) {
        line.TextArray("held_by", extra.heldBy);
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

// ---- Files and directories ------------------------------------------------

void TLedger::DeleteFileNow(const std::string& entry, const std::string& path) {
    if (KeepsReport(entry, path)) {
        return;
    }
    TExtra extra;
    switch (machine_->DeleteFile(path, extra.error)) {
    case TFileDeletion::Deleted:
        Record(entry, path, TOutcome::Removed);
        return;
    case TFileDeletion::NoFile:
        Record(entry, path, TOutcome::Absent);
        return;
    case TFileDeletion::Refused:
        Record(entry, path, TOutcome::Failed, extra, path);
        return;
    }
}

void TLedger::DeleteFileOrSchedule(const std::string& entry, const std::string& path) {
    if (KeepsReport(entry, path)) {
        return;
    }
    TExtra extra;
    switch (machine_->DeleteFile(path, extra.error)) {
    case TFileDeletion::Deleted:
        Record(entry, path, TOutcome::Removed);
        return;
    case TFileDeletion::NoFile:
        // A file that is gone already needs nothing at restart.
        Record(entry, path, TOutcome::Absent);
        return;
    case TFileDeletion::Refused:
        break;
    }
    // Asked before the file is moved aside: afterwards no file has its name.
    if (holderQuery_ != nullptr) {
        extra.heldBy = holderQuery_(path);
    }
    bool scheduled = false;
    try {
        scheduled = machine_->ScheduleDelete(path, extra.error, extra.movedTo);
    } catch (const std::exception& error) {
        // wininit.ini cannot be opened: the run ends, and the report says
        // at which entry.
        RecordRaised(entry, path, error);
        throw;
    }
    if (scheduled) {
        if (!IsNtFamily()) {
            pendingRestart_.push_back(
                {entry, path, phase_, extra, false, TOutcome::ScheduledAtRestart});
            return;
        }
        Record(entry, path, TOutcome::ScheduledAtRestart, extra);
        return;
    }
    Record(entry, path, TOutcome::Failed, extra, path);
}

void TLedger::RestartListWrittenBack() {
    if (pendingRestart_.empty()) {
        return;
    }
    // Decided once for all the entries that wait, so that a run stopped
    // while they are recorded records the rest alike.
    if (!pendingRestart_.front().done) {
        DWORD error = 0;
        const bool written = machine_->WriteBackRestartList(error);
        for (TPendingRestart& pending : pendingRestart_) {
            pending.done = true;
            if (!written) {
                pending.outcome = TOutcome::Failed;
                pending.extra.error = error;
            }
        }
    }
    // Each entry leaves the list before it is recorded: the record may end
    // the run (the session's end).
    const std::string phase = phase_;
    size_t recorded = 0;
    try {
        while (recorded < pendingRestart_.size()) {
            const TPendingRestart& pending = pendingRestart_[recorded++];
            phase_ = pending.phase;
            Record(pending.entry, pending.path, pending.outcome, pending.extra,
                   pending.outcome == TOutcome::Failed ? pending.path : std::string());
        }
    } catch (...) {
        pendingRestart_.erase(pendingRestart_.begin(),
                              pendingRestart_.begin() + static_cast<std::ptrdiff_t>(recorded));
        phase_ = phase;
        throw;
    }
    pendingRestart_.clear();
    phase_ = phase;
}

void TLedger::ApplicationClosed(const std::string& name, DWORD error) {
    std::string phase = phase_;
    phase_ = "CloseApps";
    TExtra extra;
    extra.error = error;
    Record(name, std::string(), error == 0 ? TOutcome::Closed : TOutcome::Failed, extra);
    phase_ = phase;
}

void TLedger::DeleteInstallLog(const std::string& path) {
    std::string phase = phase_;
    phase_ = "InstallLog";
    TExtra extra;
    TFileDeletion deletion = machine_->DeleteFile(path, extra.error);
    // Tried once already: a second try changes nothing in the record.
    if (!logRecorded_) {
        logRecorded_ = true;
        if (deletion == TFileDeletion::Deleted) {
            Record(path, path, TOutcome::Removed);
        } else if (deletion == TFileDeletion::NoFile) {
            Record(path, path, TOutcome::Absent);
        } else {
            Record(path, path, TOutcome::Failed, extra, path);
        }
    }
    phase_ = phase;
}

bool TLedger::RemoveDirectoryEntry(const std::string& entry, const std::string& path,
                                   bool lastTry) {
    if (protectedFolders_.IsProtected(path)) {
        Record(entry, path, TOutcome::Declined);
        return true;
    }
    TExtra extra;
    switch (machine_->RemoveFolder(path, extra.error)) {
    case TFolderRemoval::Removed:
        Record(entry, path, TOutcome::Removed);
        return true;
    case TFolderRemoval::NoFolder:
        Record(entry, path, TOutcome::Absent);
        return true;
    case TFolderRemoval::NotEmpty:
        if (!lastTry) {
            return false;
        }
        if (machine_->ScheduleFolderRemoval(path)) {
            Record(entry, path, TOutcome::ScheduledAtRestart);
        } else {
            Record(entry, path, TOutcome::NotEmpty, extra, path);
        }
        return true;
    case TFolderRemoval::Refused:
        if (lastTry) {
            Record(entry, path, TOutcome::Failed, extra, path);
        }
        return lastTry;
    }
    return true;
}

// ---- Programs -------------------------------------------------------------

bool TLedger::FileThere(const std::string& path) const {
    return machine_->FileThere(path);
}

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
