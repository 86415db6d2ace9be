// The ledger: every change the uninstall makes to the machine passes through
// here. It carries the change out, or in preview predicts it from the
// machine's present state without touching anything; it applies the guard
// rails (ktGuardRails); and it records each entry's outcome, as a line of
// the removal report the moment the entry is done and in the tallies that
// the final box and the exit code read.
//
// Report lines for entries:
//   {"type":"entry","phase":P,"entry":E,"target":T,"outcome":O,
//    "before":N,"after":N,"exit":N,"error":N,"message":M}
// "target" only when it differs from the entry and its name; "before"/"after" on
// use counters; "exit" on programs that ran; "error"/"message" where a call
// failed (for an entry that raised an error and so ended the run, "message"
// is that error's text); "message" alone where a server faulted or where an
// entry names the report file. In preview every outcome carries the prefix
// "would-".
#pragma once

#include "winapi.h"

#include <cstdint>
#include <exception>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TReportFile;

enum class TOutcome : int {
    Removed,            // gone now
    Absent,             // nothing there to remove
    ScheduledAtRestart, // in use: deleted at the next restart
    KeptShared,         // a shared file another program still counts on, or kept unattended
    CounterDecremented, // a shared file's use count lowered; the file stays
    KeptByAnswer,       // the user chose to keep it
    Unregistered,       // the OLE server's DllUnregisterServer was called
    UnregisterFailed,   // the library did not load or has no such export
    ProgramRun,         // a program ran to its end
    ProgramNotStarted,  // the shell could not start it
    Declined,           // a guard rail kept it: a well-known key or folder
    NotEmpty,           // a directory that still holds files
    Failed,             // the change was refused
};
constexpr int kOutcomeCount = 13;

// "removed", "scheduled-at-restart", ...
const char* OutcomeName(TOutcome outcome);

// The optional fields of one report line.
struct TLedgerExtra {
    bool counters = false; // "before" and "after"
    int32_t before = 0;
    int32_t after = 0;
    bool hasExit = false; // "exit"
    int exitCode = 0;
    DWORD error = 0; // "error" and "message" when not 0
    // Without an error: a "message" of its own (a fault inside a server).
    std::string message;
};

class TLedger {
  public:
    // Forgets everything of an earlier run. `report` may be null (no report
    // asked for); it must outlive the run.
    void Start(bool preview, TReportFile* report);
    bool Preview() const { return preview_; }
    // The section whose entries follow ("CopyFiles", ...).
    void SetPhase(const std::string& phase) { phase_ = phase; }

    // -- Files and directories ------------------------------------------
    // Deletes a file now (attributes reset first); nothing at restart.
    void DeleteFileNow(const std::string& entry, const std::string& path);
    // Deletes a file now, or schedules it for the next restart when it is
    // in use.
    void DeleteFileOrSchedule(const std::string& entry, const std::string& path);
    // The install log's own deletion (phase "InstallLog"); recorded once,
    // however often it is tried.
    void DeleteInstallLog(const std::string& path);
    // Removes an empty directory; protected folders are declined. Unless
    // `lastTry`, a directory that stays is not recorded yet and the result is
    // false, so that the caller can try it again later.
    bool RemoveDirectoryEntry(const std::string& entry, const std::string& path,
                              bool lastTry = true);

    // -- Registry and INI files -------------------------------------------
    // A value when the path names one, else the key with everything below
    // it, unless the key is well known (declined).
    void RemoveRegistryEntry(const std::string& entry, const std::string& path);
    // Deletes the key in the cached engine; the outcome is recorded when the
    // file has been written back (IniWrittenBack).
    void DeleteIniKey(const std::string& entry, const std::string& file, const std::string& section,
                      const std::string& key);
    // Records the INI entries deleted since the last write-back; entries of
    // the files in `failedFiles` stay on disk and are recorded as failed.
    void IniWrittenBack(const std::vector<std::string>& failedFiles);

    // -- Fonts, servers, shared files, programs ---------------------------
    void RemoveFont(const std::string& entry, const std::string& name,
                    BOOL(WINAPI* removeFont)(LPCSTR));
    // A fault inside the server is recorded with its text and raised again.
    void UnregisterServerEntry(const std::string& entry, const std::string& path);
    // The use count of a shared file; `exists` tells whether it was there.
    int32_t ReadCounter(const std::string& counterPath, bool& exists) const;
    void DecrementCounter(const std::string& entry, const std::string& counterPath, int32_t before);
    // Deletes the counter: the file is left to the later phases to remove.
    void DeleteCounter(const std::string& entry, const std::string& counterPath, int32_t before,
                       bool existed);
    // The file stays: by the user's answer, or by the unattended policy.
    void KeepShared(const std::string& entry, const std::string& counterPath, int32_t before,
                    bool byAnswer);
    // A later phase's entry for a shared file that stays.
    void SkipKeptShared(const std::string& entry, const std::string& name);
    void ProgramMissing(const std::string& entry, const std::string& file);
    // Runs the program and waits (in preview: records it and returns 0);
    // `noUi` keeps the shell from showing error boxes of its own.
    int RunProgram(const std::string& entry, HWND owner, const std::string& file,
                   const std::string& parameters, const std::string& directory, int show,
                   bool noUi);

    // -- What the run came to ---------------------------------------------
    int Count(TOutcome outcome) const { return counts_[static_cast<int>(outcome)]; }
    // {"removed":3,"absent":1}: the outcomes that occurred, in enum order.
    std::string CountsJson() const;
    // A file was scheduled for deletion at the next restart.
    bool RestartPending() const { return Count(TOutcome::ScheduledAtRestart) > 0 && !preview_; }
    // The first ten items left over (what they name), and how many in all.
    const std::vector<std::string>& LeftOver() const { return leftOver_; }
    int LeftOverCount() const { return leftOverCount_; }

    static constexpr size_t kLeftOverShown = 10;

  private:
    using TExtra = TLedgerExtra;
    struct TPendingIni {
        std::string entry;
        std::string file;      // as the entry gives it: the report's target
        std::string fileUpper; // matched against the files that failed
        bool existed;
    };
    void Record(const std::string& entry, const std::string& target, TOutcome outcome,
                const TExtra& extra = TExtra(), const std::string& leftOverItem = std::string());
    // Declines an entry that names the run's own report file.
    bool KeepsReport(const std::string& entry, const std::string& path);
    // The entry whose change raised `error` (which ends the run): failed,
    // with the error's code, when the system set one, and text.
    void RecordRaised(const std::string& entry, const std::string& target,
                      const std::exception& error);

    // Preview: what the run would already have removed.
    bool PreviewFileExists(const std::string& path) const;
    bool PreviewDirectoryExists(const std::string& path) const;
    bool PreviewDirectoryEmpty(const std::string& path) const;
    bool PreviewRegKeyGone(const std::string& canonicalKey) const;
    void PredictDirectory(const std::string& entry, const std::string& path);
    void PredictRegistryEntry(const std::string& entry, const std::string& path);

    bool preview_ = false;
    TReportFile* report_ = nullptr;
    std::string phase_;
    int counts_[kOutcomeCount] = {};
    std::vector<std::string> leftOver_;
    int leftOverCount_ = 0;
    bool logRecorded_ = false;
    std::vector<TPendingIni> pendingIni_;
    // Shared files that stay, by upper-cased name: why they stay.
    std::unordered_map<std::string, TOutcome> kept_;
    // Preview only: normalized paths, keys ("HKLM\...") and values
    // (key + "\n" + name) that the run would have removed by now.
    std::unordered_set<std::string> goneFiles_;
    std::unordered_set<std::string> goneKeys_;
    std::unordered_set<std::string> goneValues_;
};

// The ledger of the run.
TLedger& Ledger();
