// The SharedFiles phase: lowers each shared file's system-wide use count and
// asks before a file that nothing else uses any more is removed. What stays
// is left in KeptSharedFiles for the later phases to skip.
#include "Phases.h"

#include "CounterJournal.h"
#include "resource.h"

#include "ktLedger.h"
#include "ktIniCache.h"
#include "ktStrUtils.h"

#include <string>
#include <utility>

int (*AskRemoveSharedFileHook)(const std::string& fileName) = AskRemoveSharedFile;

namespace {

const char kSharedDllsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\";

// Answers of the shared-file question.
enum : int {
    kAnswerYes = IDYES, // 6
    kAnswerNo = IDNO,   // 7
    kAnswerNoToAll = 9,
    kAnswerYesToAll = 10,
};

// The counter's registry path. The file name stands in single quotes so its
// backslashes do not split the path; a quote inside the name is doubled, or
// the quotes would pair differently and name another value.
std::string CounterPath(const std::string& fileName) {
    return std::string(kSharedDllsKey) + "'" + ReplaceAll(fileName, "'", "''") + "'";
}

} // namespace

void LowerSharedCounters() {
    // The lines that stay are collected in one pass instead of deleting the
    // others from the middle of the list, which would cost a move of the
    // rest of the list for every removed file.
    TStringList kept;
    TCounterJournal journal(InstallLogPath);
    // No one answers an unattended run: a file nothing uses any more stays,
    // unless the options say it goes. /SHARED=REMOVE says so in every mode.
    int answer = 0;
    if (RunOptions.sharedRemove) {
        answer = kAnswerYesToAll;
    } else if (RunOptions.Unattended()) {
        answer = kAnswerNoToAll;
    }
    bool asked = false;
    int position = 0;
    const int count = KeptSharedFiles.Count();
    try {
        for (; position < count; ++position) {
            const std::string& line = KeptSharedFiles[position];
            std::string name = NameOf(line);
            if (name.empty()) {
                // No file: its counter path would name the key's default value.
                kept.Add(line, KeptSharedFiles.Objects(position));
                continue;
            }
            std::string path = CounterPath(name);
            bool exists = false;
            int32_t counter = Ledger().ReadCounter(path, exists);
            if (journal.LoweredBefore(name, counter)) {
                // An interrupted run lowered this count already.
                Ledger().KeepShared(line, path, counter, false);
                kept.Add(line, KeptSharedFiles.Objects(position));
                continue;
            }
            if (counter > 1) {
                // A preview writes no journal either.
                if (!Ledger().Preview()) {
                    journal.Record(name, counter);
                }
                Ledger().DecrementCounter(line, path, counter);
                kept.Add(line, KeptSharedFiles.Objects(position));
                continue;
            }
            if (answer != kAnswerNoToAll && answer != kAnswerYesToAll) {
                answer = AskRemoveSharedFileHook(name);
                asked = true;
            }
            if (answer == kAnswerYes || answer == kAnswerYesToAll) {
                Ledger().DeleteCounter(line, path, counter, exists);
            } else {
                Ledger().KeepShared(line, path, counter, asked);
                kept.Add(line, KeptSharedFiles.Objects(position));
            }
        }
    } catch (...) {
        // The lines not reached yet stay, as they would have in place.
        for (; position < count; ++position) {
            kept.Add(KeptSharedFiles[position], KeptSharedFiles.Objects(position));
        }
        KeptSharedFiles = std::move(kept);
        throw;
    }
    KeptSharedFiles = std::move(kept);
}

int AskRemoveSharedFile(const std::string& fileName) {
    CurrentSharedFile = fileName;
    return static_cast<int>(
        DialogBoxParamA(ModuleHandle, RES_DLG_DELSHARED, ProgressWindow, DelSharedDlgProc, 0));
}

INT_PTR CALLBACK DelSharedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        size_t split = CurrentSharedFile.find_last_of("\\:");
        std::string fileName =
            split == std::string::npos ? CurrentSharedFile : CurrentSharedFile.substr(split + 1);
        std::string folder =
            split == std::string::npos ? std::string() : CurrentSharedFile.substr(0, split + 1);
        SetWindowTextA(dialog, GetMessageText(15).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_TEXT, GetMessageText(16).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_NAME_LABEL, GetMessageText(17).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_FOLDER_LABEL, GetMessageText(18).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_NAME, fileName.c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_FOLDER, folder.c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_YES, GetMessageText(19).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_YES_ALL, GetMessageText(20).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_NO, GetMessageText(21).c_str());
        SetDlgItemTextA(dialog, IDC_DELSHARED_NO_ALL, GetMessageText(22).c_str());
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DELSHARED_YES:
            EndDialog(dialog, kAnswerYes);
            break;
        case IDC_DELSHARED_YES_ALL:
            EndDialog(dialog, kAnswerYesToAll);
            break;
        case IDC_DELSHARED_NO:
        case IDCANCEL:
            EndDialog(dialog, kAnswerNo);
            break;
        case IDC_DELSHARED_NO_ALL:
            EndDialog(dialog, kAnswerNoToAll);
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
