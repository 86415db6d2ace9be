// The state that the run owns and its phases share, and the helpers that
// work on it.
#include "State.h"

#include "ktIniCache.h"
#include "resource.h"

std::string InstallLogPath;
HWND ProgressWindow = nullptr;
TStringList SectionEntries;
TStringList KeptSharedFiles;
std::string CurrentSharedFile;
HINSTANCE ModuleHandle = nullptr;
TRunOptions RunOptions;

void LoadSection(const std::string& section) {
    SectionEntries.Clear();
    IniReadSectionValues(InstallLogPath, section, SectionEntries);
}

void AddProgressCaption(const std::string& text) {
    if (ProgressWindow == nullptr) {
        return;
    }
    SendDlgItemMessageA(ProgressWindow, IDC_PROGRESS_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(text.c_str()));
    // No message loop runs during the phases: paint the new line now.
    UpdateWindow(GetDlgItem(ProgressWindow, IDC_PROGRESS_LIST));
}

bool InKeptSharedFiles(const std::string& name) {
    return KeptSharedFiles.IndexOfName(name) >= 0;
}
