// The ledger: every change that an entry of the install log asks for passes
// through here. It decides each entry's outcome in one place, applying the
// guard rails (ktGuardRails), through the steps of a machine
// (ktLedgerMachine.h): in a real run the real machine carries them out, in
// a preview an overlay answers them from the machine's present state and
// what the run would have changed by then, touching nothing. So a preview
// predicts exactly what the run does, except where only trying could tell
// (the README's preview section lists those cases). It records each
// entry's outcome, as a line of the removal report the moment the entry is
// done and in the tallies that the final box and the exit code read.
//
// The INI files and the 95 family's restart-time list (wininit.ini) are
// written back through it, and their entries recorded then. These changes
// pass outside it, as no entry of the log asks for them:
// - the program's own counter journal (uninstaller/CounterJournal), a
//   helper file beside the log that a preview never writes: the program's
//   note of the use counts the ledger lowered, so that a second run does not
//   lower them again;
// - the closing of the applications that hold files (uninstaller/
//   FilesInUse), before the first phase: one request through the Restart
//   Manager for all of them, answered by the user or by /CLOSEAPPS, never in
//   a preview; the ledger records each application's outcome afterwards
//   (ApplicationClosed);
// - the removal report itself (ktReport), which the ledger writes its lines
//   into: created before the run, and taken back (deleted) at once when a
//   name the system gave it only on creation (a short name) shows it to be
//   the install log (uninstaller/UnVantrel);
// - the server host's error file (ktServerHost), a scratch file of the
//   program's own in the temporary folder, made and deleted around each
//   server's call.
//
// Report lines for entries:
//   {"type":"entry","phase":P,"entry":E,"target":T,"outcome":O,
//    "before":N,"after":N,"exit":N,"error":N,"message":M,"moved_to":T,"held_by":[A,...]}
// "target" only when it differs from the entry and its name; "before"/"after" on
// use counters; "exit" on programs that ran; "error"/"message" where a call
// failed (for an entry that raised an error and so ended the run, "message"
// is that error's text); "message" alone where a server faulted or where an
// entry names the report file; "moved_to" where a file in use was moved
// aside before its deletion at restart; "held_by" on a file scheduled at
// restart: the applications that held it. In preview every outcome carries
// the prefix "would-".
#pragma once

#include "winapi.h"
#include "ktGuardRails.h"

#include <cstdint>
#include <memory>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

class TReportFile;
class TLedgerMachine;

enum class TOutcome : int {
    Removed,            // gone now
    Absent,             // nothing there to remove
    ScheduledAtRestart, // in use: deleted at the next restart
    KeptShared,         // a shared file another program still counts on, or kept unattended
    CounterDecremented, // a shared file's use count lowered; the file stays
    KeptByAnswer,       // the user chose to keep it
    Unregistered,       // the OLE server's DllUnregisterServer was called
    UnregisterFailed,   // the library did not load, has no such export, or hung
    ProgramRun,         // a program ran to its end
    ProgramNotStarted,  // the shell could not start it
    Declined,           // a guard rail kept it: a well-known key or folder
    NotEmpty,           // a directory that still holds files
    Failed,             // the change was refused
    Closed,             // an application that held files was closed
};
constexpr int kOutcomeCount = 14;

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
    // A "message" of its own (a fault inside a server); with an error, in
    // place of the system's text.
    std::string message;
    // "moved_to": the hidden name a file in use was moved to before its
    // deletion at restart (ktMoveAside.h).
    std::string movedTo;
    // "held_by": the applications that held the file.
    std::vector<std::string> heldBy;
};

class TLedger {
  public:
    TLedger();
    ~TLedger();
    TLedger(TLedger&&) noexcept;
    TLedger& operator=(TLedger&&) noexcept;

    // Forgets everything of an earlier run. `report` may be null (no report
    // asked for); it must outlive the run.
    void Start(bool preview, TReportFile* report);
    bool Preview() const { return preview_; }
    // Called after each entry is recorded (null: nothing); what it raises
    // leaves the ledger's operation.
    void SetAfterEntry(void (*hook)()) { afterEntry_ = hook; }
    // The section whose entries follow ("CopyFiles", ...).
    void SetPhase(const std::string& phase) { phase_ = phase; }
    // Names the applications that hold a file scheduled at restart (for its
    // "held_by"); without it, or when it names none, the entry has none.
    void SetHolderQuery(std::vector<std::string> (*query)(const std::string& path)) {
        holderQuery_ = query;
    }
    // An application that held files, closed (error 0) or still running
    // after it was asked to end (phase "CloseApps").
    void ApplicationClosed(const std::string& name, DWORD error);

    // -- Files and directories ------------------------------------------
    // Deletes a file now (attributes reset first); nothing at restart.
    void DeleteFileNow(const std::string& entry, const std::string& path);
    // Deletes a file now, or schedules it for the next restart when it is
    // in use. On the 95 family a file scheduled so is a line of wininit.ini,
    // which the system reads only as it was written: its entry is recorded
    // at RestartListWrittenBack.
    void DeleteFileOrSchedule(const std::string& entry, const std::string& path);
    // Writes the 95 family's restart-time list back and records the entries
    // it holds: scheduled-at-restart, or, when the file could not be
    // written (it is then as it was), failed with the write-back's error and
    // left over. Each entry keeps its phase. Nothing when none waits.
    void RestartListWrittenBack();
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
    // it, unless the key is well known (declined). For an entry of a section
    // of keys (`keyEntry`) a trailing backslash names the key itself, not
    // its default value. A path without a known root is failed, untouched.
    void RemoveRegistryEntry(const std::string& entry, const std::string& path,
                             bool keyEntry = false);
    // Deletes the key in the file's cached engine (one engine per file,
    // however the entries spell its name); the outcome is recorded when the
    // file has been written back (IniWrittenBack). A file that another
    // program holds without delete sharing could not be replaced: it keeps
    // its keys, failed. A file the engine cannot open to write (read-only,
    // or held by another program) ends the run: the entry is recorded as
    // failed and the engine's open error (EIniFileError) raised, in a
    // preview too.
    void DeleteIniKey(const std::string& entry, const std::string& file, const std::string& section,
                      const std::string& key);
    // Records the INI entries deleted since the last write-back; entries of
    // the files in `failedFiles` stay on disk and are recorded as failed.
    void IniWrittenBack(const std::vector<std::string>& failedFiles);

    // -- Fonts, servers, shared files, programs ---------------------------
    // Releases the font through `removeFont` (RemoveFontResourceA): removed,
    // or absent when the system had no such font loaded.
    void RemoveFont(const std::string& entry, const std::string& name,
                    BOOL(WINAPI* removeFont)(LPCSTR));
    // After the fonts: tells every top-level window that the fonts changed
    // (not in preview).
    void FontsChanged();
    // A library that is not there (no file by that full path, a device
    // name, a name ending in a separator) is unregister-failed without a
    // try. A fault inside the server is recorded with its text and raised again.
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
    // Whether a file (not a folder, nor a device) is there as the run finds
    // it by now: in preview, with what the run would have removed gone.
    bool FileThere(const std::string& path) const;
    // A program entry whose file is not there: recorded absent, not run.
    void ProgramMissing(const std::string& entry, const std::string& file);
    // Runs the program and waits (in preview: records it and returns 0);
    // `noUi` keeps the shell from showing error boxes of its own.
    int RunProgram(const std::string& entry, HWND owner, const std::string& file,
                   const std::string& parameters, const std::string& directory, int show,
                   bool noUi);

    // -- What the run came to ---------------------------------------------
    int Count(TOutcome outcome) const { return counts_[static_cast<int>(outcome)]; }
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
        std::string file;    // as the entry gives it: the report's target
        std::string fileKey; // matched against the files that failed
        TOutcome outcome;    // Removed: once the file is written back
        DWORD error;
    };
    // A file scheduled through the 95 family's restart-time list, waiting
    // for the list's write-back; `done` once its outcome is known.
    struct TPendingRestart {
        std::string entry;
        std::string path;
        std::string phase;
        TLedgerExtra extra;
        bool done;
        TOutcome outcome;
    };
    // How the INI engine takes a file (TIniAccess), asked once per file.
    struct TIniFileAccess {
        int access;
        DWORD error;
    };
    void Record(const std::string& entry, const std::string& target, TOutcome outcome,
                const TExtra& extra = TExtra(), const std::string& leftOverItem = std::string());
    void WriteEntryLine(const std::string& entry, const std::string& target, TOutcome outcome,
                        const TExtra& extra);
    // Declines an entry that names the run's own report file.
    bool KeepsReport(const std::string& entry, const std::string& path);
    // The entry whose change raised `error` (which ends the run): failed,
    // with the error's code, when the system set one, and text.
    void RecordRaised(const std::string& entry, const std::string& target,
                      const std::exception& error);

    bool preview_ = false;
    void (*afterEntry_)() = nullptr;
    TReportFile* report_ = nullptr;
    // The real machine, or in preview the overlay.
    std::unique_ptr<TLedgerMachine> machine_;
    // The guard rails for the folders of this run.
    TProtectedFolders protectedFolders_;
    std::vector<std::string> (*holderQuery_)(const std::string& path) = nullptr;
    std::string phase_;
    int counts_[kOutcomeCount] = {};
    std::vector<std::string> leftOver_;
    int leftOverCount_ = 0;
    bool logRecorded_ = false;
    std::vector<TPendingIni> pendingIni_;
    std::vector<TPendingRestart> pendingRestart_;
    std::unordered_map<std::string, TIniFileAccess> iniAccess_;
    // Shared files that stay, by upper-cased name: why they stay.
    std::unordered_map<std::string, TOutcome> kept_;
};

// The ledger of the run.
TLedger& Ledger();
