// The files-in-use step: the Restart Manager names the applications that hold
// files of the CopyFiles phase, and closes them when asked to.
#include "FilesInUse.h"

#include "resource.h"

#include "ktIniCache.h"
#include "ktLedger.h"
#include "ktRestartManager.h"
#include "ktStrUtils.h"
#include "ktText.h"
#include "ktUtils.h"

#include <unordered_set>

int (*AskAboutFilesInUseHook)(const std::vector<std::string>& applications) = AskAboutFilesInUse;

namespace {

// ERROR_FAIL_SHUTDOWN, which the headers for Windows XP do not name.
const DWORD kErrorFailShutdown = 351;

static_assert(kFilesInUseClose == IDC_FILESINUSE_CLOSE &&
                  kFilesInUseContinue == IDC_FILESINUSE_CONTINUE && kFilesInUseCancel == IDCANCEL,
              "the answers are the buttons' ids");

// The files the CopyFiles phase would remove. Files of the SharedFiles
// section are left out: whether they go is only known once their use counts
// have been read (mostly they stay), and a file in use among them is still
// scheduled at restart.
std::vector<std::string> FilesToRemove() {
    TStringList copyFiles;
    IniReadSectionValues(InstallLogPath, "CopyFiles", copyFiles);
    std::vector<std::string> files;
    if (copyFiles.Empty()) {
        return files;
    }
    TStringList shared;
    IniReadSectionValues(InstallLogPath, "SharedFiles", shared);
    std::unordered_set<std::string> sharedNames;
    for (int i = 0; i < shared.Count(); ++i) {
        sharedNames.insert(UpperCase(NameOf(shared[i])));
    }
    files.reserve(static_cast<size_t>(copyFiles.Count()));
    for (int i = 0; i < copyFiles.Count(); ++i) {
        std::string name = NameOf(copyFiles[i]);
        if (!name.empty() && (sharedNames.empty() || sharedNames.count(UpperCase(name)) == 0)) {
            files.push_back(std::move(name));
        }
    }
    return files;
}

bool SameProcess(const TRunningApp& a, const TRunningApp& b) {
    return a.processId == b.processId && a.start.dwLowDateTime == b.start.dwLowDateTime &&
           a.start.dwHighDateTime == b.start.dwHighDateTime;
}

std::string Lines(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : "\r\n") + item;
    }
    return text;
}

INT_PTR CALLBACK FilesInUseDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto* applications = reinterpret_cast<const std::vector<std::string>*>(lParam);
        SetWindowTextA(dialog, GetMessageText(31).c_str());
        SetDlgItemTextA(dialog, IDC_FILESINUSE_TEXT, GetMessageText(32).c_str());
        SetDlgItemTextA(dialog, IDC_FILESINUSE_LIST, Lines(*applications).c_str());
        SetDlgItemTextA(dialog, IDC_FILESINUSE_CLOSE, GetMessageText(33).c_str());
        SetDlgItemTextA(dialog, IDC_FILESINUSE_CONTINUE, GetMessageText(34).c_str());
        SetDlgItemTextA(dialog, IDCANCEL, GetMessageText(35).c_str());
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILESINUSE_CLOSE:
        case IDC_FILESINUSE_CONTINUE:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return 0;
}

} // namespace

int AskAboutFilesInUse(const std::vector<std::string>& applications) {
    INT_PTR answer = DialogBoxParamA(ModuleHandle, RES_DLG_FILESINUSE, ProgressWindow,
                                     FilesInUseDlgProc, reinterpret_cast<LPARAM>(&applications));
    // A dialog that cannot be shown answers nothing: the files are then
    // handled as files in use, as without the question.
    return answer == kFilesInUseClose || answer == kFilesInUseCancel ? static_cast<int>(answer)
                                                                     : kFilesInUseContinue;
}

bool HandleFilesInUse() {
    TRestartManager manager;
    if (!manager.Available()) {
        return true;
    }
    std::vector<std::string> files = FilesToRemove();
    if (files.empty() || !manager.Register(files)) {
        return true;
    }
    std::vector<TRunningApp> holders = manager.Holders();
    if (holders.empty()) {
        return true;
    }
    Ledger().SetHolderQuery(ApplicationsHolding);
    std::vector<std::string> names;
    for (const TRunningApp& app : holders) {
        names.push_back(app.Description());
    }

    bool close = false;
    if (!RunOptions.Unattended()) {
        int answer = AskAboutFilesInUseHook(names);
        if (answer == kFilesInUseCancel) {
            return false;
        }
        close = answer == kFilesInUseClose;
    } else {
        // A preview changes nothing, applications included.
        close = RunOptions.closeApps && !RunOptions.preview;
    }
    if (!close) {
        return true;
    }

    AddProgressCaption(GetMessageText(37));
    // Asked, not forced: an application may still have work to save.
    DWORD result = manager.Shutdown(false);
    std::vector<TRunningApp> still = manager.Holders();
    std::vector<std::string> refused;
    for (const TRunningApp& app : holders) {
        bool running = false;
        for (const TRunningApp& other : still) {
            running = running || SameProcess(app, other);
        }
        Ledger().ApplicationClosed(app.Description(),
                                   running ? (result != ERROR_SUCCESS ? result : kErrorFailShutdown)
                                           : 0);
        if (running) {
            refused.push_back(app.Description());
        }
    }
    if (!refused.empty() && !RunOptions.Unattended()) {
        MsgBox(ProgressWindow, AppTitle, GetMessageText(36) + "\r" + Lines(refused),
               MB_ICONEXCLAMATION);
    }
    return true;
}
