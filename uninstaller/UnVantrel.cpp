// The program entry's run: argument check, confirmation, progress window, the
// phases in their fixed order, the log's deletion and the final message.
#include "UnVantrel.h"

#include "CounterJournal.h"
#include "OneAtATime.h"
#include "SessionGuard.h"
#include "FilesInUse.h"

#include "ktCommandLine.h"
#include "ktFileIdentity.h"
#include "ktFileUtils.h"
#include "ktHandle.h"
#include "ktLedger.h"
#include "ktIniCache.h"
#include "ktRedirectionTrust.h"
#include "ktReport.h"
#include "ktUtils.h"
#include "ktServerHost.h"
#include "resource.h"
#include "ktPlatform.h"
#include "ktSystemText.h"

#include <exception>

namespace {

const char kAppTitle[] = "Vantrel Uninstaller";
const char kUnknownErrorText[] = "Unknown error";

// Exit codes when options are given (without options the program ends with 0).
enum : int {
    kExitDone = 0,
    kExitBadOption = 87,
    kExitCancelled = 1602,
    kExitFatal = 1603,
    kExitLogMissing = 1619,
    kExitRestart = 3010,
};

// Message numbers of the report's own texts.
enum : int {
    kMsgReportIsLog = 29,
    kMsgReportKept = 30,
};

// Owns the progress window for the run and keeps ProgressWindow in step, so
// that no phase sees a handle that was destroyed.
class TProgressWindowOwner {
  public:
    TProgressWindowOwner() = default;
    TProgressWindowOwner(const TProgressWindowOwner&) = delete;
    TProgressWindowOwner& operator=(const TProgressWindowOwner&) = delete;
    ~TProgressWindowOwner() {
        ProgressWindow = nullptr;
        window_.Close();
    }
    void Set(HWND window) {
        window_.Reset(window);
        ProgressWindow = window;
    }

  private:
    TScopedWindow window_;
};

// Frees the run's lists on every way out; declared before the window owner,
// so the window goes first.
struct TRunListsOwner {
    TRunListsOwner() = default;
    TRunListsOwner(const TRunListsOwner&) = delete;
    TRunListsOwner& operator=(const TRunListsOwner&) = delete;
    ~TRunListsOwner() {
        SectionEntries.Clear();
        KeptSharedFiles.Clear();
    }
};

void ShowError(const std::string& text) {
    if (RunOptions.ShowsBoxes()) {
        ErrorBox(text);
    }
}

// `lock` and `report` outlive the run: the INI files written back at its end
// are written under the lock and reported before the end line.
int Run(TUninstallLock& lock, TReportFile& report) {
    MsgBoxFlags = MB_SETFOREGROUND;
    AppTitle = kAppTitle;

    ModuleHandle = GetModuleHandleA(nullptr);
    InstallLogPath.clear();
    RunOptions = TRunOptions();
    TRunListsOwner lists;
    SectionEntries.Clear();
    KeptSharedFiles.Clear();
    TProgressWindowOwner window;
    Ledger().Start(false, nullptr);

    const char* commandLine = GetCommandLineA();
    std::vector<std::string> arguments = SplitCommandLine(commandLine ? commandLine : "");
    if (arguments.size() >= 2) {
        RunOptions = ParseOptions(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    }
    if (!RunOptions.Valid()) {
        ShowError(FormatOneString(MessageTextBeforeLogIsRead(25), RunOptions.badOption));
        return kExitBadOption;
    }
    InstallLogPath = RunOptions.logPath;
    // The report would replace the log it reports on, whatever spelling
    // each path uses, or stand at the path of a log that is missing: refused
    // before the report is made.
    if (!RunOptions.reportPath.empty() && !InstallLogPath.empty() &&
        SameFileOrName(RunOptions.reportPath, InstallLogPath)) {
        ShowError(
            FormatOneString(MessageTextBeforeLogIsRead(kMsgReportIsLog), RunOptions.reportPath));
        return kExitBadOption;
    }

    // A run that asks no confirmation takes the lock before it makes its
    // report: kept out by another run, it writes nothing, not even over that
    // run's report when both name the same file.
    const bool asksToConfirm = !RunOptions.Unattended();
    const bool asksToRetry = !RunOptions.silent && !RunOptions.passive;
    if (!asksToConfirm && !lock.Take(asksToRetry)) {
        return kExitAnotherRunning;
    }

    // A log that is missing now is missing for the whole run, even when the
    // report's creation makes a file of its name.
    const bool logExists = !InstallLogPath.empty() && FileExists(InstallLogPath);
    if (!RunOptions.reportPath.empty()) {
        if (!report.Create(RunOptions.reportPath)) {
            std::string reason = SystemErrorText(report.Error());
            ShowError(FormatOneString(MessageTextBeforeLogIsRead(28), RunOptions.reportPath) +
                      (reason.empty() ? "" : "\r" + reason));
            return kExitFatal;
        }
        // The log was missing, and the report now stands at its path under
        // a name the system made with the file (a short name): the report is
        // taken back, and nothing is left of the run.
        if (!logExists && !InstallLogPath.empty() && report.IsThisFile(InstallLogPath)) {
            report.Close();
            DeleteFileA(RunOptions.reportPath.c_str());
            ShowError(FormatOneString(MessageTextBeforeLogIsRead(kMsgReportIsLog),
                                      RunOptions.reportPath));
            return kExitBadOption;
        }
        // A report that cannot take its first line cannot be trusted with the
        // rest: nothing is changed.
        if (!report.WriteLine(ReportStartLine(VANTREL_VERSION_TEXT, InstallLogPath,
                                              RunOptions.given, UtcTimestamp()))) {
            std::string reason = SystemErrorText(report.Error());
            ShowError(FormatOneString(MessageTextBeforeLogIsRead(28), RunOptions.reportPath) +
                      (reason.empty() ? "" : "\r" + reason));
            return kExitFatal;
        }
    }
    if (InstallLogPath.empty()) {
        ShowError(GetMessageText(2));
        return kExitLogMissing;
    }
    Ledger().Start(RunOptions.preview, report.IsOpen() ? &report : nullptr);

    if (!logExists) {
        // A run stopped between deleting the log and its journal left this.
        if (!RunOptions.preview) {
            TCounterJournal::RemoveAfterLog(InstallLogPath);
        }
        ShowError(FormatOneString(GetMessageText(3), InstallLogPath));
        return kExitLogMissing;
    }
    // The log stays loaded from here on; a log that exists but cannot be
    // read ends the run before anything is asked or changed.
    try {
        IniReadString(InstallLogPath, "Strings", "1", "");
    } catch (const std::exception& error) {
        ShowError(error.what());
        return kExitLogMissing;
    }
    if (report.IsOpen()) {
        report.SetKeptMessage(
            FormatOneString(GetMessageText(kMsgReportKept), RunOptions.reportPath));
    }

    if (asksToConfirm && QuestionBox(GetMessageText(4)) != IDYES) {
        return kExitCancelled;
    }
    // Held to the end of the run, after the confirmation and before any
    // change; a preview takes it too.
    if (!lock.Take(asksToRetry)) {
        return kExitAnotherRunning;
    }

    if (!RunOptions.silent) {
        HWND dialog = CreateDialogParamA(ModuleHandle, RES_DLG_UNINSTALL, nullptr, nullptr, 0);
        if (dialog == nullptr) {
            ErrorBox("Cannot create DLG_UNINSTALL dialog!");
            return kExitFatal;
        }
        window.Set(dialog);
        SetWindowTextA(ProgressWindow, GetMessageText(1).c_str());
    }

    if (!RunProgramsBefore() || !HandleFilesInUse()) {
        return kExitCancelled;
    }

    {
        TSessionGuard noShutdown; // the phases run to their end
        RunRemovalPhases();
    }

    // Nothing is scheduled for restart when the log cannot go now.
    Ledger().DeleteInstallLog(InstallLogPath);
    if (!RunOptions.preview) {
        TCounterJournal::RemoveAfterLog(InstallLogPath);
    }

    RunProgramsAfter();

    if (RunOptions.preview) {
        if (RunOptions.ShowsBoxes()) {
            MsgBox(ProgressWindow, kAppTitle,
                   FormatOneString(GetMessageText(27), RunOptions.reportPath), MB_ICONINFORMATION);
        }
        return kExitDone;
    }
    if (!RunOptions.Unattended()) {
        MsgBox(ProgressWindow, kAppTitle, FinalMessageText(), MB_ICONINFORMATION);
    }
    return Ledger().RestartPending() ? kExitRestart : kExitDone;
}

} // namespace

std::string FormatOneString(const std::string& format, const std::string& value) {
    std::string result;
    bool used = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char next = format[i + 1];
            if (next == '%') {
                result += '%';
                ++i;
                continue;
            }
            if ((next == 's' || next == 'S') && !used) {
                result += value;
                used = true;
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}

std::string FinalMessageText() {
    // Each addition is a paragraph of its own: two line breaks, as "||||"
    // makes in a message text.
    std::string text = GetMessageText(5);
    const TLedger& ledger = Ledger();
    if (ledger.RestartPending()) {
        text += "\r\r" + GetMessageText(23);
    }
    if (ledger.LeftOverCount() > 0) {
        text += "\r\r" + GetMessageText(24);
        for (const std::string& item : ledger.LeftOver()) {
            text += "\r" + item;
        }
        int more = ledger.LeftOverCount() - static_cast<int>(ledger.LeftOver().size());
        if (more > 0) {
            text += "\r" + FormatOneString(GetMessageText(26), std::to_string(more));
        }
    }
    return text;
}

int RunUninstall() {
    const DWORD startTicks = GetTickCount();
    TUninstallLock lock; // released after the report is closed
    TReportFile report;
    int code = kExitDone;
    try {
        code = Run(lock, report);
    } catch (const ESessionEnded&) {
        // Stopped between two entries; the log stays for a rerun.
        code = kExitFatal;
    } catch (const std::exception& error) {
        // Run's owners have closed the window and freed the lists by now.
        ShowError(error.what());
        code = kExitFatal;
    } catch (...) {
        // Whatever else was thrown ends the run the same way, never in
        // std::terminate.
        ShowError(kUnknownErrorText);
        code = kExitFatal;
    }
    // What a run that ended part-way left changed in the INI cache (the 95
    // family's restart-time list, the INI files of the AddIni phase) is
    // written back now, so that its outcomes are in the report before its
    // end.
    try {
        Ledger().RestartListWrittenBack();
        Ledger().IniWrittenBack(FreeIniFiles());
    } catch (...) {
    }
    report.WriteEnd(RunOptions.any ? code : kExitDone, Ledger().RestartPending(),
                    GetTickCount() - startTicks);
    report.Close();
    // Without options the program ends as it always did.
    return RunOptions.any ? code : kExitDone;
}

void StartUp() {
    RestrictLibrarySearch();
    EnforceRedirectionTrust();
    CoInitialize(nullptr);
    PlatformId(); // read once, before any phase needs it
}

void ShutDown() {
    // The INI cache was written back and emptied at the run's end.
    CoUninitialize();
}
